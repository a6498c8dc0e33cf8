#include "link_check.h"

#include "check_report.h"
#include "frame.h"
#include "serial_port.h"

namespace {

// How long a line may take none of the bytes handed to it, in timeouts,
// before it is called stuck: far more than any latency of a working one.
constexpr int kStuckTimeouts = 10;
constexpr int kStuckAtLeastMs = 1000;
// Noise is shown up to this many bytes a line.
constexpr qsizetype kShownNoise = 24;

// The bytes as they came; one that is no printable character is shown by
// its code, so the line stays one line and says what really arrived.
QString Shown(const QByteArray &bytes)
{
    QString shown;
    for (const char ch : bytes) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\')
            shown += QLatin1Char(ch);
        else
            shown += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
    return shown;
}

QString Bits(int wrong)
{
    return wrong == 1 ? QStringLiteral("1 bit wrong") : QStringLiteral("%1 bits wrong").arg(wrong);
}

} // namespace

TLinkCheck::TLinkCheck(TCommPort *master, TCommPort *slave, qint64 frames, qint64 seed, int timeoutMs,
                       CheckReport *report, const QString &check, const QString &label, QObject *owner)
    : QObject(owner), master_(master), slave_(slave), frames_(frames), timeoutMs_(timeoutMs), report_(report),
      check_(check), label_(label),
      matcher_(seed, slave->GetLine() ? slave->GetLine()->Taken().dataBits : kLineDataBits)
{
    for (QTimer *timer : {&timeout_, &drained_, &straggler_})
        timer->setSingleShot(true);
    timeout_.setTimerType(Qt::PreciseTimer);
    connect(&timeout_, &QTimer::timeout, this, &TLinkCheck::TimedOut);
    drained_.setInterval(1);
    connect(&drained_, &QTimer::timeout, this, &TLinkCheck::SendNext);
    connect(&straggler_, &QTimer::timeout, this, [this] { Stop(End::Done); });
    connect(master_, &TCommPort::OnDataReceived, this, &TLinkCheck::Arrived);
}

void TLinkCheck::Start()
{
    if (stopped_)
        return;
    clock_.start();
    SendNext();
}

void TLinkCheck::SendNext()
{
    if (stopped_ || timeout_.isActive())
        return;
    if (stopAtFault_ && matcher_.Tally().sent > 0 && !Intact(matcher_.Tally())) {
        Stop(End::Done);
        return;
    }
    if (sentFrames_ == frames_) {
        // A frame owed, or one cut short, may still be on its way.
        if (!matcher_.Unsettled())
            Stop(End::Done);
        else if (!straggler_.isActive())
            straggler_.start(timeoutMs_);
        return;
    }
    // The frame before may still wait in the driver, if its timeout came
    // before it was even on the line: never more than one frame queued.
    if (const std::uint32_t waiting = slave_->GetOutBuffUsed(); waiting > 0) {
        Waits(waiting);
        return;
    }
    if (!slave_->GetOpen())
        return; // lost meanwhile: OnLost ends the run
    draining_.invalidate();
    PutFrame(*slave_, matcher_.Send(Now()).value);
    ++sentFrames_;
    timeout_.start(timeoutMs_);
}

bool TLinkCheck::Waits(std::uint32_t waiting)
{
    if (!draining_.isValid())
        draining_.start();
    const qint64 limit = std::max<qint64>(qint64(kStuckTimeouts) * timeoutMs_, kStuckAtLeastMs);
    if (draining_.elapsed() < limit) {
        drained_.start();
        return true;
    }
    Problem(QStringLiteral("the slave's line took nothing for %1 ms: %2 bytes still wait to go out")
                .arg(draining_.elapsed())
                .arg(waiting));
    Stop(End::LineStuck);
    return false;
}

QByteArray TLinkCheck::Take()
{
    QByteArray bytes;
    bytes.reserve(master_->GetInBuffUsed());
    while (master_->GetInBuffUsed() > 0)
        bytes += master_->GetChar();
    matcher_.Tally().bytes += bytes.size();
    return bytes;
}

void TLinkCheck::Arrived()
{
    if (!stopped_)
        Settled(matcher_.Arrived(Take(), Now()));
}

void TLinkCheck::TimedOut()
{
    Expire();
    report_->Progress(matcher_.Tally(), frames_);
    SendNext();
}

void TLinkCheck::Expire()
{
    const FrameMatcher::Frame frame = matcher_.Awaited();
    // Bytes of it on their way make it late, or corrupt, once they are all
    // here: said then, not called missing now.
    const bool arriving = matcher_.Arriving();
    Settled(matcher_.TimedOut(Now()));
    if (matcher_.Owes(frame.number) && !arriving)
        Problem(QStringLiteral("frame %1: missing: nothing came back within %2 ms").arg(frame.number).arg(timeoutMs_));
}

void TLinkCheck::Settled(const std::vector<FrameMatcher::Event> &events)
{
    bool next = false;
    for (const FrameMatcher::Event &event : events) {
        const FrameMatcher::Frame &frame = event.frame;
        const QString sent = frame.number > 0 ? QString::fromLatin1(FrameBytes(frame.value)) : QString();
        if (event.after > 0)
            Problem(QStringLiteral("frame %1: out of order: came after frame %2").arg(frame.number).arg(event.after));
        switch (event.kind) {
        case FrameMatcher::Kind::Received:
            timeout_.stop();
            next = true;
            break;
        case FrameMatcher::Kind::Late:
            Problem(QStringLiteral("frame %1: came after all, %2 ms after it was sent")
                        .arg(frame.number)
                        .arg(event.ms, 0, 'f', 1));
            break;
        case FrameMatcher::Kind::Corrupt:
            Problem(QStringLiteral("frame %1: corrupt: sent %2, got %3 (%4)")
                        .arg(frame.number)
                        .arg(sent, Shown(event.got), Bits(event.wrongBits)));
            break;
        case FrameMatcher::Kind::Wrong:
            if (frame.number > 0)
                Problem(QStringLiteral("frame %1: wrong frame: sent %2, got %3, a value this run never sent (%4)")
                            .arg(frame.number)
                            .arg(sent, Shown(event.got), Bits(event.wrongBits)));
            else
                Problem(QStringLiteral("wrong frame before the first: got %1").arg(Shown(event.got)));
            break;
        case FrameMatcher::Kind::Again:
            Problem(QStringLiteral("frame %1: came again").arg(frame.number));
            break;
        case FrameMatcher::Kind::Noise:
            Problem(QStringLiteral("%1 stray bytes that belong to no frame: %2%3")
                        .arg(event.got.size())
                        .arg(Shown(event.got.left(kShownNoise)),
                             event.got.size() > kShownNoise ? QStringLiteral("...") : QString()));
            break;
        }
    }
    // A frame judged corrupt as soon as its bytes were all here is settled
    // as one that came back: the next goes now, not at its timeout.
    if (!next && timeout_.isActive() && matcher_.AwaitedCount() == 0) {
        timeout_.stop();
        next = true;
    }
    if (next) {
        report_->Progress(matcher_.Tally(), frames_);
        SendNext();
    }
}

void TLinkCheck::Problem(const QString &text)
{
    report_->Problem(check_, label_ + text);
}

void TLinkCheck::Stop(End end)
{
    if (stopped_)
        return;
    stopped_ = true;
    timeout_.stop();
    drained_.stop();
    straggler_.stop();
    // The whole of what came is matched, up to the last byte read.
    if (master_->GetOpen())
        Settled(matcher_.Arrived(Take(), Now()));
    Settled(matcher_.Finish(Now()));
    matcher_.Tally().seconds = clock_.isValid() ? double(Now()) / 1e9 : 0;
    emit Finished(end);
}
