#pragma once

#include "check_tally.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <map>
#include <unordered_map>
#include <vector>

// Frame n's value, counted from a run's starting point `seed`: distinct
// for 32001 frames in a row, spread over all of 0..32000, and within any 16
// frames in a row every hex digit on the lowest place.
std::int32_t FrameValue(qint64 seed, qint64 n);
// The values' round: a seed is a point of it, 0 up to this less one.
inline constexpr qint64 kFrameValues = 32001;
// The bytes of the frame that carries `value`, as the slave sends them.
QByteArray FrameBytes(std::int32_t value);

// What a run has sent and what came back, compared byte for byte. Any
// number of frames may be awaited at once, each until its time is up,
// oldest first; stop and wait is the case of one. Bytes are
// cut into frames where a frame of the right shape (the preamble, the
// marker, four upper-case hex digits) lies whole among them, so one lost or
// extra byte costs only the frame it hit; a frame of the right shape is
// matched to the frame of this run that carried its value. What lies
// between frames belongs to the frame whose bytes it began, or is noise.
// A frame of the wrong shape counts as corrupt, never as received; one of
// the right shape that nobody awaited is wrong. A frame that comes after
// one sent later is reordered, besides received or late. Every byte that
// came is compared, in the bits the line carries: 96 a frame at 8 data
// bits, and the bits found wrong among them.
class FrameMatcher
{
public:
    struct Frame
    {
        qint64 number = -1; // counted from 1; -1: none
        std::int32_t value = 0;
        qint64 sentNs = 0;
    };
    enum class Kind {
        Received, // the frame awaited, intact
        Late,     // a frame whose timeout had passed, intact
        Corrupt,  // a frame's bytes, some wrong (or some missing, at the end)
        Wrong,    // a frame nobody awaits: its value was never sent in this run
        Again,    // a frame that had come already
        Noise,    // bytes that belong to no frame
    };
    struct Event
    {
        Kind kind;
        Frame frame;   // the frame it was, or (Wrong, Noise) the oldest awaited, if any
        QByteArray got; // what came: the frame's bytes, or the noise
        double ms = 0; // Received, Late: since the frame was sent
        int wrongBits = 0;
        qint64 after = 0; // Received, Late: the number of a frame sent later that came first; 0: none
    };

    // Each byte carries `dataBits` on the line: 7 of them leave nothing to
    // compare in the top bit, which never crossed it.
    explicit FrameMatcher(qint64 seed, int dataBits = 8) : seed_(seed), dataBits_(dataBits) {}

    // The next frame, awaited from now on besides those awaited already; its
    // bytes are FrameBytes(value).
    Frame Send(qint64 ns);
    // Bytes that reached the master; the events they settled, in order.
    std::vector<Event> Arrived(const QByteArray &bytes, qint64 ns);
    // The oldest awaited frame's time is up: owed from now on, and missing
    // until its bytes come. Bytes of it that already came are matched once
    // all twelve are here.
    std::vector<Event> TimedOut(qint64 ns);
    // The run is over: whatever came is judged now, a frame cut short
    // included; what is owed stays missing, and what is awaited is left out.
    std::vector<Event> Finish(qint64 ns);

    // The oldest frame awaited; number -1 when none is.
    Frame Awaited() const { return inFlight_.empty() ? Frame{} : inFlight_.begin()->second; }
    qsizetype AwaitedCount() const { return qsizetype(inFlight_.size()); }
    bool Awaits(qint64 number) const { return inFlight_.count(number) > 0; }
    bool Owes(qint64 number) const { return owed_.count(number) > 0; }
    // Frames awaited or owed, or bytes not yet judged.
    bool Unsettled() const { return !inFlight_.empty() || !owed_.empty() || !pending_.isEmpty(); }
    // Bytes that came and are not yet judged: a frame on its way.
    bool Arriving() const { return !pending_.isEmpty(); }
    CheckTally &Tally() { return tally_; }
    const CheckTally &Tally() const { return tally_; }

private:
    std::vector<Event> Settle(qint64 ns, bool final);
    qsizetype NextShaped(qsizetype from) const;
    bool ShapeMayStart(qsizetype from) const;
    void Match(std::vector<Event> &events, const QByteArray &got, qint64 ns);
    void Came(Event &event);
    const Frame *Outstanding(qint64 before) const;
    void Debris(std::vector<Event> &events, const QByteArray &bytes, qint64 before);
    // By value: the frame usually lives in the ledger it is struck from.
    void Corrupt(std::vector<Event> &events, Frame frame, const QByteArray &got);
    void Compared(Event &event, const QByteArray &expected);

    qint64 seed_;
    int dataBits_;
    qint64 next_ = 0;
    Frame newest_; // the frame sent last
    std::map<qint64, Frame> inFlight_; // by number: awaited, its time not up
    std::map<qint64, Frame> owed_; // by number: timed out, not come
    qint64 newestCame_ = 0; // the number of the newest frame that came intact
    std::unordered_map<std::int32_t, qint64> sent_; // value to frame number, this run
    std::unordered_map<std::int32_t, Frame> settled_; // by value: came already
    QByteArray pending_; // bytes not yet judged
    CheckTally tally_;
};
