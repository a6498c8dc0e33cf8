#pragma once

#include <QElapsedTimer>
#include <QString>

class TStreamWriter;
struct CheckTally;

// What a run prints as it goes, on standard output, and its complaints, on
// standard error; neither ever waits for its reader. Every line goes out
// at once, for a script that reads them as they come. Problems are shown
// up to a bound, and counted beyond it. On a terminal a run that lasts
// gives a progress line, rewritten in place and cleared before anything
// else is printed; into a pipe or a file it gives none.
class CheckReport
{
public:
    CheckReport(TStreamWriter *out, TStreamWriter *errors, bool terminal);

    void Line(const QString &text);
    // One problem with a frame or the line.
    void Problem(const QString &text);
    void Complaint(const QString &text);
    void Progress(const CheckTally &tally, qint64 frames);
    // Says how many problems were not shown, if any.
    void Close();

    static constexpr int kShownProblems = 100;

private:
    void Clear();

    TStreamWriter *out_;
    TStreamWriter *errors_;
    bool terminal_;
    bool shown_ = false;
    qint64 problems_ = 0;
    QElapsedTimer clock_;
    qint64 nextMs_;
};
