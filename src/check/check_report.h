#pragma once

#include "check_tally.h"
#include "device_info.h"
#include "line_probe.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class TStreamWriter;

// One side of the link, as the head of a run describes it.
struct PortReport
{
    QString side;        // master, slave
    QString description; // where its name leads
    DeviceInfo info;
    QStringList notTaken; // settings the device did not take
    bool loopbackWasOn = false; // found sending to itself, and turned back to the line
};

// What a run prints as it goes, on standard output, and its complaints, on
// standard error; neither ever waits for its reader. As text, one line per
// finding, flushed at once for a script that reads them as they come, and
// on a terminal a progress line, rewritten in place; or, for CI, one JSON
// object per line. Problems are shown up to a bound, and counted beyond it.
// Each finding is filed under the check that made it (frames, counters,
// lines, isolation), for the run's record. The end of the run is written as
// the record's formatters make it.
class CheckReport
{
public:
    CheckReport(TStreamWriter *out, TStreamWriter *errors, bool json, bool terminal);

    // The run's own head: where its values start, the line, and, where the
    // run's length follows from a goal, how long it will be.
    void Head(qint64 seed, const QString &line, const QString &plan);
    void Port(const PortReport &port);
    void Problem(const QString &check, const QString &text);
    void Complaint(const QString &text);
    // `frames` planned; 0 for a run that lasts a time instead.
    void Progress(const CheckTally &tally, qint64 frames);
    void Counters(const QString &side, const std::optional<LineCounters> &change);
    void Handshake(const std::optional<std::vector<HandshakePair>> &pairs);
    void Isolation(const QString &side, const QString &result);
    // What the run found as it ran, filed under each check.
    QStringList LinesOf(const QString &check) const { return lines_.value(check); }
    qint64 Problems() const { return problems_; }
    // The end: the summary's lines as text, or its object as JSON.
    void End(const QStringList &lines, QJsonObject summary);

    static constexpr int kShownProblems = 100;

private:
    void Line(const QString &check, const QString &text);
    void Object(const QString &type, QJsonObject object);
    void Clear();

    TStreamWriter *out_;
    TStreamWriter *errors_;
    bool json_;
    bool terminal_;
    bool schemaSent_ = false;
    bool shown_ = false;
    qint64 problems_ = 0;
    QElapsedTimer clock_;
    qint64 nextMs_;
    QHash<QString, QStringList> lines_; // what a person reads, per check
};
