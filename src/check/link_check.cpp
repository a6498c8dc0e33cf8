#include "link_check.h"

#include "check_ports.h"
#include "check_report.h"
#include "frame.h"
#include "serial_port.h"

namespace {

// How long a line may take none of the bytes handed to it, in timeouts,
// before it is called stuck: far more than any latency of a working one.
constexpr int kStuckTimeouts = 10;
constexpr int kStuckAtLeastMs = 1000;

QString Hex(std::int32_t value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
}

// The digits as they came; a byte that is no printable character is shown
// by its code, so the line stays one line and says what really arrived.
QString Shown(std::string_view digits)
{
    QString shown;
    for (const char ch : digits) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte >= 0x20 && byte < 0x7F)
            shown += QLatin1Char(ch);
        else
            shown += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
    return shown;
}

} // namespace

TLinkCheck::TLinkCheck(TCommPort *master, TCommPort *slave, qint64 frames, int timeoutMs, CheckReport *report,
                       const QString &check, const QString &label, QObject *owner)
    : QObject(owner), master_(master), slave_(slave), frames_(frames), timeoutMs_(timeoutMs), report_(report),
      check_(check), label_(label)
{
    timeout_.setSingleShot(true);
    timeout_.setTimerType(Qt::PreciseTimer);
    connect(&timeout_, &QTimer::timeout, this, &TLinkCheck::TimedOut);
    drained_.setSingleShot(true);
    drained_.setInterval(1);
    connect(&drained_, &QTimer::timeout, this, &TLinkCheck::SendNext);
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
    if (stopped_)
        return;
    if (ledger_.Tally().sent == frames_) {
        Stop(End::Done);
        return;
    }
    // The frame before may still wait in the driver, if its timeout came
    // before it was even on the line: never more than one frame queued.
    if (const std::uint32_t waiting = slave_->GetOutBuffUsed(); waiting > 0) {
        if (!draining_.isValid())
            draining_.start();
        const qint64 limit = std::max<qint64>(qint64(kStuckTimeouts) * timeoutMs_, kStuckAtLeastMs);
        if (draining_.elapsed() < limit) {
            drained_.start();
            return;
        }
        Problem(QStringLiteral("the slave's line took nothing for %1 ms: %2 bytes still wait to go out")
                             .arg(draining_.elapsed())
                             .arg(waiting));
        Stop(End::LineStuck);
        return;
    }
    if (!slave_->GetOpen())
        return; // lost meanwhile: OnLost ends the run
    draining_.invalidate();
    PutFrame(*slave_, ledger_.Send(Now()).value);
    timeout_.start(timeoutMs_);
}

void TLinkCheck::Arrived(int count)
{
    ledger_.Tally().bytes += count;
    TakeFrames(*master_, [this](std::int32_t value, std::string_view digits) { Found(value, digits); });
}

void TLinkCheck::Found(std::int32_t value, std::string_view digits)
{
    if (stopped_)
        return;
    const FrameLedger::Match match = ledger_.Found(value, Now());
    switch (match.kind) {
    case FrameLedger::Kind::Received:
        timeout_.stop();
        report_->Progress(ledger_.Tally(), frames_);
        SendNext();
        break;
    case FrameLedger::Kind::Late:
        Problem(QStringLiteral("frame %1: came after all, %2 ms after it was sent")
                             .arg(match.frame.number)
                             .arg(match.ms, 0, 'f', 1));
        break;
    case FrameLedger::Kind::Wrong:
        if (match.frame.number > 0)
            Problem(QStringLiteral("frame %1: wrong value: sent %2 (%3), got %4 (%5)")
                                 .arg(match.frame.number)
                                 .arg(match.frame.value)
                                 .arg(Hex(match.frame.value))
                                 .arg(value)
                                 .arg(Shown(digits)));
        else
            Problem(QStringLiteral("wrong value between frames: got %1 (%2)").arg(value).arg(Shown(digits)));
        break;
    }
}

void TLinkCheck::TimedOut()
{
    const FrameLedger::Frame frame = ledger_.TimedOut();
    Problem(QStringLiteral("frame %1: missing: nothing came back within %2 ms").arg(frame.number).arg(timeoutMs_));
    // What arrived of it, at most four bytes, would otherwise be read with
    // the next frame and cost that one too.
    DropWaiting(*master_);
    report_->Progress(ledger_.Tally(), frames_);
    SendNext();
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
    ledger_.Tally().seconds = clock_.isValid() ? double(Now()) / 1e9 : 0;
    emit Finished(end);
}
