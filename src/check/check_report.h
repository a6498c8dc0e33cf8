#pragma once

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

struct CheckTally;

// What a run prints as it goes. Every line is flushed at once, for a script
// that reads them as they come. On a terminal a run that lasts gives a
// progress line, rewritten in place and cleared before anything else is
// printed; into a pipe or a file it gives none.
class CheckReport
{
public:
    CheckReport(std::FILE *out, bool terminal);

    void Line(const QString &text);
    void Progress(const CheckTally &tally, qint64 frames);

private:
    void Clear();

    std::FILE *out_;
    bool terminal_;
    bool shown_ = false;
    QElapsedTimer clock_;
    qint64 nextMs_;
};
