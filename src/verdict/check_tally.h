#pragma once

#include <QString>

#include <cstddef>
#include <vector>

// The round trips of the frames that came back intact, late ones too, in
// ms: the fastest and the slowest exactly, and the median from an even
// sample of at most kKept of them, so that a stream of any length keeps
// bounded memory.
class RoundTrips
{
public:
    static constexpr std::size_t kKept = std::size_t(1) << 16;

    void Add(double ms);
    // Another run's, as if added one by one.
    void Add(const RoundTrips &other);
    bool Empty() const { return count_ == 0; }
    double Fastest() const { return fastest_; }
    double Slowest() const { return slowest_; }
    // The middle value, or the mean of the middle two; 0 of none.
    double Median() const;

private:
    std::vector<double> sample_;
    qint64 count_ = 0;
    double fastest_ = 0;
    double slowest_ = 0;
};

// What a run has settled so far, and how it reads at the end. Every frame
// settled is received, late, corrupt or missing; wrong counts the frames
// found that nobody awaited, and stray the bytes that belong to no frame.
// Reordered frames are among those received or late.
struct CheckTally
{
    qint64 sent = 0;     // frames settled: received, late, corrupt or missing
    qint64 received = 0; // came back intact while it was awaited
    qint64 late = 0;     // came back intact after its timeout
    qint64 corrupt = 0;  // came back with a byte wrong, or cut short
    qint64 missing = 0;  // has not come back
    qint64 wrong = 0;    // frames found that nobody awaited
    qint64 reordered = 0; // received or late, after a frame sent later than it
    qint64 strayBytes = 0;
    qint64 bitsCompared = 0; // of every byte that came, against what should have
    qint64 bitErrors = 0;
    RoundTrips roundTrips;
    qint64 bytes = 0;     // all that reached the master
    double seconds = 0;   // from the first frame out to the end
};

// The summary's lines: counts, round trip, and the rate on the line against
// its nominal `bytesPerSecond`.
QString Summary(const CheckTally &tally, double bytesPerSecond);
// Frames were settled and every one came back intact (late included) and
// in order, and nothing came that was not sent: a run that settled nothing
// proved nothing. A serial line never reorders bytes: one that seems to
// has lost or held some.
bool Intact(const CheckTally &tally);
