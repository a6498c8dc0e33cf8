#include "check_report.h"

#include "check_tally.h"
#include "stream_writer.h"

namespace {

// A run that ends within a second needs no progress, and four updates a
// second are as many as anyone reads.
constexpr qint64 kFirstProgressMs = 1000;
constexpr qint64 kProgressEveryMs = 250;

} // namespace

CheckReport::CheckReport(TStreamWriter *out, TStreamWriter *errors, bool terminal)
    : out_(out), errors_(errors), terminal_(terminal), nextMs_(kFirstProgressMs)
{
    clock_.start();
}

void CheckReport::Line(const QString &text)
{
    Clear();
    out_->Write((text + QLatin1Char('\n')).toLocal8Bit());
}

void CheckReport::Problem(const QString &text)
{
    // Noise on a line can make a problem of every few bytes: the first
    // ones tell what is wrong, the count tells how much.
    if (++problems_ <= kShownProblems)
        Line(text);
}

void CheckReport::Complaint(const QString &text)
{
    Clear();
    errors_->Write(QStringLiteral("comloop-check: %1\n").arg(text).toLocal8Bit());
}

void CheckReport::Progress(const CheckTally &tally, qint64 frames)
{
    if (!terminal_ || clock_.elapsed() < nextMs_)
        return;
    nextMs_ = clock_.elapsed() + kProgressEveryMs;
    const QString text =
        QStringLiteral("\rframe %1 of %2: %3 received, %4 late, %5 wrong, %6 missing\x1b[K")
            .arg(tally.sent)
            .arg(frames)
            .arg(tally.received)
            .arg(tally.late)
            .arg(tally.wrong)
            .arg(tally.missing);
    out_->Write(text.toLocal8Bit());
    shown_ = true;
}

void CheckReport::Close()
{
    if (problems_ > kShownProblems)
        Line(QStringLiteral("%1 more problems not shown").arg(problems_ - kShownProblems));
}

void CheckReport::Clear()
{
    if (!shown_)
        return;
    out_->Write("\r\x1b[K");
    shown_ = false;
}
