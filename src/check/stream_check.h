#pragma once

#include "link_check.h"

#include <cstdint>
#include <deque>

// Enough that the driver never runs dry between two looks at it, a
// millisecond apart, at any common rate.
inline constexpr std::uint32_t kStreamQueuedFrames = 8;

// Sends frames from the slave as fast as the line takes them for a while,
// and checks what the master finds as a link check does. The slave's port
// is kept fed with a few frames' worth, never more, and no more frames are
// awaited at once than can come back within a timeout, so the memory a
// run takes stays bounded however long it runs or whatever the line does.
// A frame's time is up one timeout after the line could have carried it
// and all queued before it.
class TStreamCheck : public TLinkCheck
{
public:
    TStreamCheck(TCommPort *master, TCommPort *slave, double seconds, double byteMs, qint64 seed, int timeoutMs,
                 CheckReport *report, const QString &check, const QString &label, QObject *owner);

private:
    struct Due
    {
        qint64 number;
        qint64 ns; // since the run's start
    };

    void SendNext() override;
    void TimedOut() override;
    // Queues frames while the port has room; false when the run ended, or
    // its port went, meanwhile.
    bool Feed();

    qint64 endNs_;        // no frame goes out after this
    double byteNs_;       // a byte's time on the line
    qint64 mostAwaited_;  // frames awaited at once
    std::deque<Due> dues_; // of the frames sent, oldest first, till their time is up
};
