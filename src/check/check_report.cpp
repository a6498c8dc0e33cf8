#include "check_report.h"

#include "check_tally.h"

namespace {

// A run that ends within a second needs no progress, and four updates a
// second are as many as anyone reads.
constexpr qint64 kFirstProgressMs = 1000;
constexpr qint64 kProgressEveryMs = 250;

} // namespace

CheckReport::CheckReport(std::FILE *out, bool terminal)
    : out_(out), terminal_(terminal), nextMs_(kFirstProgressMs)
{
    clock_.start();
}

void CheckReport::Line(const QString &text)
{
    Clear();
    std::fputs(qPrintable(text + QLatin1Char('\n')), out_);
    std::fflush(out_);
}

void CheckReport::Progress(const CheckTally &tally, qint64 frames)
{
    if (!terminal_ || clock_.elapsed() < nextMs_)
        return;
    nextMs_ = clock_.elapsed() + kProgressEveryMs;
    const QString text = QStringLiteral("\rframe %1 of %2: %3 received, %4 wrong, %5 missing\x1b[K")
                             .arg(tally.sent)
                             .arg(frames)
                             .arg(tally.received)
                             .arg(tally.wrong)
                             .arg(tally.missing);
    std::fputs(qPrintable(text), out_);
    std::fflush(out_);
    shown_ = true;
}

void CheckReport::Clear()
{
    if (!shown_)
        return;
    std::fputs("\r\x1b[K", out_);
    shown_ = false;
}
