#include "check_tally.h"

#include "check_line.h"

#include <algorithm>

namespace {

QString Ms(double ms)
{
    return QString::number(ms, 'f', 2) + QStringLiteral(" ms");
}

QString RoundTrip(const std::vector<double> &ms)
{
    if (ms.empty())
        return QStringLiteral("round trip: no frame came back");
    return QStringLiteral("round trip: median %1, max %2")
        .arg(Ms(Median(ms)), Ms(*std::max_element(ms.begin(), ms.end())));
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

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

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
