#include "check_tally.h"

#include <algorithm>

namespace {

QString Ms(double ms)
{
    return QString::number(ms, 'f', 2) + QStringLiteral(" ms");
}

QString RoundTrip(const std::vector<double> &ms)
{
    if (ms.empty())
        return QStringLiteral("round trip: no frame came back intact");
    return QStringLiteral("round trip: median %1, max %2")
        .arg(Ms(Median(ms)), Ms(*std::max_element(ms.begin(), ms.end())));
}

QString Rate(const CheckTally &tally, double bytesPerSecond)
{
    if (tally.sent == 0 || tally.seconds <= 0)
        return QStringLiteral("rate: nothing measured");
    return QStringLiteral("rate: %1 bytes in %2 s, %3 B/s against the line's nominal %4 B/s; %5 frames/s")
        .arg(tally.bytes)
        .arg(tally.seconds, 0, 'f', 2)
        .arg(qRound64(double(tally.bytes) / tally.seconds))
        .arg(bytesPerSecond, 0, 'f', 0)
        .arg(qRound64(double(tally.sent) / tally.seconds));
}

} // namespace

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

QString Summary(const CheckTally &tally, double bytesPerSecond)
{
    // Said only where it was seen: a summary of frames in order reads as it always did.
    const QString reordered = tally.reordered > 0 ? QStringLiteral(", reordered %1").arg(tally.reordered) : QString();
    return QStringLiteral("sent %1, received %2, late %3, corrupt %4, wrong %5, missing %6, stray bytes %7%8\n%9\n%10")
        .arg(tally.sent)
        .arg(tally.received)
        .arg(tally.late)
        .arg(tally.corrupt)
        .arg(tally.wrong)
        .arg(tally.missing)
        .arg(tally.strayBytes)
        .arg(reordered, RoundTrip(tally.roundTripsMs), Rate(tally, bytesPerSecond));
}

bool Intact(const CheckTally &tally)
{
    return tally.sent > 0 && tally.received + tally.late == tally.sent && tally.wrong == 0 && tally.strayBytes == 0
           && tally.reordered == 0;
}
