#include "link_check.h"

#include "check_report.h"
#include "frame.h"
#include "serial_port.h"

namespace {

// Frame n's value. Its four digits step by 3, 9, 5 and 1 from one frame to
// the next, so every 16 frames put each hex digit on each of the three low
// places and 0 to 7 on the top one, and neighbours differ in every digit: a
// late frame is never taken for the one after it. The top digit is 7 only
// where the next is 0 or 8, which keeps every value within 0..32000.
std::int32_t FrameValue(qint64 n)
{
    const auto digit = [n](int step, int offset, int base) {
        return std::int32_t((n % base * step + offset) % base);
    };
    return digit(3, 0, 8) << 12 | digit(9, 3, 16) << 8 | digit(5, 10, 16) << 4 | digit(1, 0, 16);
}

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
                       QObject *owner)
    : QObject(owner), master_(master), slave_(slave), frames_(frames), timeoutMs_(timeoutMs), report_(report)
{
    timeout_.setSingleShot(true);
    timeout_.setTimerType(Qt::PreciseTimer);
    connect(&timeout_, &QTimer::timeout, this, &TLinkCheck::TimedOut);
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
    if (tally_.sent == frames_) {
        Stop(End::Done);
        return;
    }
    running_ = true;
    value_ = FrameValue(tally_.sent);
    sentNs_ = clock_.nsecsElapsed();
    PutFrame(*slave_, value_);
    timeout_.start(timeoutMs_);
}

void TLinkCheck::Arrived(int count)
{
    tally_.bytes += count;
    TakeFrames(*master_, [this](std::int32_t value, std::string_view digits) { Found(value, digits); });
}

void TLinkCheck::Found(std::int32_t value, std::string_view digits)
{
    if (!running_)
        return;
    const qint64 frame = tally_.sent + 1;
    if (value == value_) {
        tally_.roundTripsMs.push_back(MsSince(sentNs_));
        Settle(Outcome::Received);
    } else if (previousOwed_ && value == previousValue_) {
        report_->Line(QStringLiteral("frame %1: came after all, %2 ms after it was sent")
                          .arg(frame - 1)
                          .arg(MsSince(previousSentNs_), 0, 'f', 1));
        previousOwed_ = false;
    } else {
        report_->Line(QStringLiteral("frame %1: wrong value: sent %2 (%3), got %4 (%5)")
                          .arg(frame)
                          .arg(value_)
                          .arg(Hex(value_))
                          .arg(value)
                          .arg(Shown(digits)));
        Settle(Outcome::Wrong);
    }
}

void TLinkCheck::TimedOut()
{
    report_->Line(QStringLiteral("frame %1: missing: nothing came back within %2 ms")
                      .arg(tally_.sent + 1)
                      .arg(timeoutMs_));
    // What arrived of it, at most four bytes, would otherwise be read with
    // the next frame and cost that one too.
    while (master_->GetInBuffUsed() > 0)
        master_->GetChar();
    Settle(Outcome::Missing);
}

void TLinkCheck::Settle(Outcome outcome)
{
    timeout_.stop();
    running_ = false;
    ++tally_.sent;
    tally_.received += outcome == Outcome::Received;
    tally_.wrong += outcome == Outcome::Wrong;
    tally_.missing += outcome == Outcome::Missing;
    previousOwed_ = outcome != Outcome::Received;
    previousValue_ = value_;
    previousSentNs_ = sentNs_;
    report_->Progress(tally_, frames_);
    SendNext();
}

void TLinkCheck::Stop(End end)
{
    if (stopped_)
        return;
    stopped_ = true;
    timeout_.stop();
    running_ = false;
    tally_.seconds = clock_.isValid() ? MsSince(0) / 1000 : 0;
    if (end == End::Interrupted)
        report_->Line(QStringLiteral("interrupted after %1 of %2 frames").arg(tally_.sent).arg(frames_));
    report_->Line(Summary(tally_));
    emit Finished(end == End::PortLost ? 2 : Verdict(tally_));
}

double TLinkCheck::MsSince(qint64 ns) const
{
    return double(clock_.nsecsElapsed() - ns) / 1e6;
}
