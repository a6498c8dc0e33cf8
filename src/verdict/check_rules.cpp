#include "check_rules.h"

#include <algorithm>
#include <cmath>

namespace {

// Faster than this share of the wire time, the bytes did not cross a wire
// at the line's rate; slower than this many wire times, something holds
// them up (an adapter's latency timer, or a slower rate).
constexpr double kVirtualBelow = 0.8;
constexpr double kSlowAbove = 2.0;

} // namespace

TimingReading ReadTiming(const RoundTrips &roundTrips, double frameOnLineMs)
{
    if (roundTrips.Empty() || frameOnLineMs <= 0)
        return {};
    const double fastest = roundTrips.Fastest();
    const double ratio = fastest / frameOnLineMs;
    if (ratio < kVirtualBelow)
        return {Timing::Virtual, ratio > 0 ? 1 / ratio : 0};
    if (ratio > kSlowAbove)
        return {Timing::Slow, ratio};
    return {Timing::Consistent, ratio};
}

QString TimingName(Timing timing)
{
    switch (timing) {
    case Timing::Virtual:
        return QStringLiteral("virtual");
    case Timing::Consistent:
        return QStringLiteral("consistent");
    case Timing::Slow:
        return QStringLiteral("slow");
    case Timing::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

QString TimingText(const TimingReading &reading, double frameOnLineMs, const QString &lineName)
{
    const QString times = reading.factor > 0 && reading.factor < 10 ? QString::number(reading.factor, 'f', 1)
                                                                      : QString::number(qRound64(reading.factor));
    switch (reading.timing) {
    case Timing::Virtual:
        return QStringLiteral("timing: virtual: bytes moved %1x faster than %2 allows (a pseudo-terminal, "
                              "an emulated UART, or a rate that was not applied)")
            .arg(times, lineName);
    case Timing::Consistent:
        return QStringLiteral("timing: consistent with %1 (the fastest round trip took %2x the %3 ms a frame "
                              "takes on the wire)")
            .arg(lineName, QString::number(reading.factor, 'f', 2), QString::number(frameOnLineMs, 'f', 1));
    case Timing::Slow:
        return QStringLiteral("timing: slow: round trips %1x longer than %2 needs (adapter latency, or "
                              "another rate)")
            .arg(times, lineName);
    case Timing::Unknown:
        break;
    }
    return QStringLiteral("timing: unknown: no frame came back intact");
}

double BerBelow95(qint64 bits)
{
    return bits > 0 ? 3.0 / double(bits) : 0;
}

qint64 FramesForBound(double rate, int bitsPerFrame)
{
    // 3 / bits < rate: one bit more than 3 / rate, rounded down.
    const qint64 bits = qint64(std::floor(3.0 / rate)) + 1;
    return (bits + bitsPerFrame - 1) / bitsPerFrame;
}

QString ErrorRateText(qint64 bits, qint64 errors)
{
    if (bits == 0)
        return QStringLiteral("bit errors: no bit compared");
    if (errors == 0)
        return QStringLiteral("bit error rate below %1 at 95% confidence (%2 bits compared, none wrong)")
            .arg(BerBelow95(bits), 0, 'g', 2)
            .arg(bits);
    return QStringLiteral("bit error rate at least %1 observed (%2 wrong bits in %3 bits compared)")
        .arg(double(errors) / double(bits), 0, 'g', 2)
        .arg(errors)
        .arg(bits);
}
