#include "check_tally.h"

#include <algorithm>
#include <cstdint>

namespace {

QString Ms(double ms)
{
    return QString::number(ms, 'f', 2) + QStringLiteral(" ms");
}

QString RoundTrip(const RoundTrips &trips)
{
    if (trips.Empty())
        return QStringLiteral("round trip: no frame came back intact");
    return QStringLiteral("round trip: median %1, max %2").arg(Ms(trips.Median()), Ms(trips.Slowest()));
}

// A fixed mix of the count, so the sample, and every report made from it,
// is the same each time the same round trips come.
std::uint64_t Mixed(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
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

void RoundTrips::Add(double ms)
{
    fastest_ = count_ == 0 ? ms : std::min(fastest_, ms);
    slowest_ = count_ == 0 ? ms : std::max(slowest_, ms);
    ++count_;
    // Each round trip so far stays in the sample with the same chance.
    if (sample_.size() < kKept)
        sample_.push_back(ms);
    else if (const std::uint64_t at = Mixed(std::uint64_t(count_)) % std::uint64_t(count_); at < kKept)
        sample_[at] = ms;
}

void RoundTrips::Add(const RoundTrips &other)
{
    if (other.Empty())
        return;
    const double fastest = Empty() ? other.fastest_ : std::min(fastest_, other.fastest_);
    const double slowest = Empty() ? other.slowest_ : std::max(slowest_, other.slowest_);
    for (const double ms : other.sample_)
        Add(ms);
    count_ += other.count_ - qint64(other.sample_.size());
    fastest_ = fastest;
    slowest_ = slowest;
}

double RoundTrips::Median() const
{
    if (sample_.empty())
        return 0;
    std::vector<double> values = sample_;
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
        .arg(reordered, RoundTrip(tally.roundTrips), Rate(tally, bytesPerSecond));
}

bool Intact(const CheckTally &tally)
{
    return tally.sent > 0 && tally.received + tally.late == tally.sent && tally.wrong == 0 && tally.strayBytes == 0
           && tally.reordered == 0;
}
