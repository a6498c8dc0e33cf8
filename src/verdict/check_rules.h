#pragma once

#include "check_tally.h"

#include <QString>

#include <vector>

// The judgements a run ends with, as pure functions of what it found.

// How the line's pace reads from the fastest round trip: a frame cannot
// come back sooner than its bytes take on the wire.
enum class Timing { Unknown, Virtual, Consistent, Slow };
struct TimingReading
{
    Timing timing = Timing::Unknown;
    double factor = 1; // Virtual: so many times faster than the line allows; Slow: slower
};
TimingReading ReadTiming(const RoundTrips &roundTrips, double frameOnLineMs);
QString TimingName(Timing timing); // virtual, consistent, slow, unknown
QString TimingText(const TimingReading &reading, double frameOnLineMs, const QString &lineName);

// With `bits` compared and none wrong, the bit error rate lies below this
// at 95 % confidence (the rule of three); 0 when nothing was compared.
double BerBelow95(qint64 bits);
QString ErrorRateText(qint64 bits, qint64 errors);
// The fewest frames of `bitsPerFrame` that, all intact, put that bound
// below `rate`.
qint64 FramesForBound(double rate, int bitsPerFrame);
