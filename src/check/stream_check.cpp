#include "stream_check.h"

#include "check_report.h"
#include "frame.h"
#include "serial_port.h"

#include <algorithm>
#include <cmath>

TStreamCheck::TStreamCheck(TCommPort *master, TCommPort *slave, double seconds, double byteMs, qint64 seed,
                           int timeoutMs, CheckReport *report, const QString &check, const QString &label, QObject *owner)
    : TLinkCheck(master, slave, 0, seed, timeoutMs, report, check, label, owner), endNs_(qint64(seconds * 1e9)),
      byteNs_(byteMs * 1e6),
      // A pseudo-terminal counts nothing it holds as unsent, so the port
      // alone does not bound what is on its way: frames beyond a timeout's
      // worth would be missing anyway.
      mostAwaited_(kStreamQueuedFrames + qint64(timeoutMs / (kFrameBytes * byteMs)))
{
}

void TStreamCheck::SendNext()
{
    if (stopped_)
        return;
    if (Now() < endNs_) {
        if (!Feed())
            return;
    } else if (!matcher_.Unsettled()) {
        Stop(End::Done);
        return;
    } else if (matcher_.AwaitedCount() == 0 && !straggler_.isActive()) {
        // A frame owed, or one cut short, may still be on its way.
        straggler_.start(timeoutMs_);
    }
    if (!dues_.empty() && !timeout_.isActive())
        timeout_.start(int(std::max<qint64>(0, (dues_.front().ns - Now() + 999999) / 1000000)));
}

bool TStreamCheck::Feed()
{
    std::uint32_t queued = slave_->GetOutBuffUsed();
    if (queued >= kStreamQueuedFrames * kFrameBytes)
        return Waits(queued);
    draining_.invalidate();
    if (!slave_->GetOpen())
        return false; // lost meanwhile: OnLost ends the run
    for (std::uint32_t frames = 0; frames < kStreamQueuedFrames && queued < kStreamQueuedFrames * kFrameBytes
                                   && matcher_.AwaitedCount() < mostAwaited_;
         ++frames) {
        const qint64 now = Now();
        const qint64 onLine = now + qint64(std::ceil(double(queued + kFrameBytes) * byteNs_));
        const qint64 due = std::max(dues_.empty() ? 0 : dues_.back().ns, onLine + qint64(timeoutMs_) * 1000000);
        const FrameMatcher::Frame frame = matcher_.Send(now);
        PutFrame(*slave_, frame.value);
        dues_.push_back({frame.number, due});
        queued = slave_->GetOutBuffUsed();
    }
    // Looks again in a moment, as the line takes what was queued.
    drained_.start();
    return true;
}

void TStreamCheck::TimedOut()
{
    // Frames settled meanwhile leave the front; the first still awaited is
    // the matcher's oldest.
    while (!dues_.empty() && !stopped_) {
        if (!matcher_.Awaits(dues_.front().number)) {
            dues_.pop_front();
            continue;
        }
        if (dues_.front().ns > Now())
            break;
        dues_.pop_front();
        Expire();
    }
    report_->Progress(matcher_.Tally(), frames_);
    SendNext();
}
