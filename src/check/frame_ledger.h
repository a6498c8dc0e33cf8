#pragma once

#include "check_tally.h"

#include <QtGlobal>

#include <cstdint>
#include <unordered_map>

// Frame n's value: distinct for 32001 frames in a row, spread over all of
// 0..32000, and within the first 16 frames every hex digit on each of the
// three low places and 0 to 7 on the top one.
std::int32_t FrameValue(qint64 n);

// What a run has sent and what came back, matched by value rather than by
// position, so that a stall or a lost frame costs only the frames it
// touches. One frame is awaited at a time; a frame whose timeout passed is
// owed until its value turns up (late) or the run ends (missing).
class FrameLedger
{
public:
    struct Frame
    {
        qint64 number = -1; // counted from 1; -1: none
        std::int32_t value = 0;
        qint64 sentNs = 0;
    };
    enum class Kind { Received, Late, Wrong };
    struct Match
    {
        Kind kind;
        Frame frame; // Received, Late: the frame; Wrong: the one awaited, if any
        double ms;   // Received, Late: since it was sent
    };

    // The next frame, awaited from now on.
    Frame Send(qint64 ns);
    Match Found(std::int32_t value, qint64 ns);
    // The awaited frame's time is up: owed from now on.
    Frame TimedOut();

    const Frame &Awaited() const { return awaited_; }
    CheckTally &Tally() { return tally_; }
    const CheckTally &Tally() const { return tally_; }

private:
    CheckTally tally_;
    Frame awaited_;
    qint64 next_ = 0;
    std::unordered_map<std::int32_t, Frame> owed_; // by value
};
