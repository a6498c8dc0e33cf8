#include "check_tally.h"

#include "check_line.h"

#include <algorithm>

namespace {

QString Ms(double ms)
{
    return QString::number(ms, 'f', 2) + QStringLiteral(" ms");
}

QString RoundTrip(std::vector<double> ms)
{
    if (ms.empty())
        return QStringLiteral("round trip: no frame came back");
    std::sort(ms.begin(), ms.end());
    const std::size_t half = ms.size() / 2;
    const double median = ms.size() % 2 ? ms[half] : (ms[half - 1] + ms[half]) / 2;
    return QStringLiteral("round trip: median %1, max %2").arg(Ms(median), Ms(ms.back()));
}

QString Rate(const CheckTally &tally)
{
    if (tally.sent == 0 || tally.seconds <= 0)
        return QStringLiteral("rate: nothing measured");
    return QStringLiteral("rate: %1 bytes in %2 s, %3 B/s against the line's nominal %4 B/s; %5 frames/s")
        .arg(tally.bytes)
        .arg(tally.seconds, 0, 'f', 2)
        .arg(qRound64(double(tally.bytes) / tally.seconds))
        .arg(kNominalBytesPerSecond, 0, 'f', 0)
        .arg(qRound64(double(tally.sent) / tally.seconds));
}

} // namespace

QString Summary(const CheckTally &tally)
{
    return QStringLiteral("sent %1, received %2, late %3, wrong %4, missing %5\n%6\n%7")
        .arg(tally.sent)
        .arg(tally.received)
        .arg(tally.late)
        .arg(tally.wrong)
        .arg(tally.missing)
        .arg(RoundTrip(tally.roundTripsMs), Rate(tally));
}

int Verdict(const CheckTally &tally)
{
    return tally.sent > 0 && tally.missing == 0 && tally.wrong == 0 ? 0 : 1;
}
