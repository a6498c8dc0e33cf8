#pragma once

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
TimingReading ReadTiming(const std::vector<double> &roundTripsMs, double frameOnLineMs);
QString TimingName(Timing timing); // virtual, consistent, slow, unknown
QString TimingText(const TimingReading &reading, double frameOnLineMs);

// With `bits` compared and no error, the bit error rate lies below this
// at 95 % confidence (the rule of three); 0 when nothing was compared.
double BerBelow95(qint64 bits);
QString ErrorRateText(qint64 bits, qint64 errors);

// Everything a run found that decides its exit status.
struct Findings
{
    bool framesPass = false; // frames were checked and all came back intact
    bool fault = false;      // a check that ran found the link at fault
    bool unavailable = false; // a check that was asked for could not run here
    bool lost = false;       // a port went away during the run
};

// 0 every check that ran passed; 1 a link fault; 2 a check asked for could
// not run; 3 a port was lost. A fault found outranks a check that could
// not run: it is what the technician must see.
int ExitStatus(const Findings &findings);
QString VerdictName(int status); // pass, fail, setup, lost
