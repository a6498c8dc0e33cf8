#pragma once

#include "check_rules.h"
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
};

// How a run ends.
struct RunSummary
{
    CheckTally tally;
    qint64 frames = 0; // asked for
    bool interrupted = false;
    TimingReading timing;
    qint64 bitsCompared = 0;
    QStringList verdictLines; // what the checks together say, such as where the fault lies
    int status = 0;
};

// What a run prints as it goes, on standard output, and its complaints, on
// standard error; neither ever waits for its reader. As text, one line per
// finding, flushed at once for a script that reads them as they come, and
// on a terminal a progress line, rewritten in place; or, for CI, one JSON
// object per line. Problems are shown up to a bound, and counted beyond it.
// Each finding is filed under the check that made it (frames, counters,
// lines, isolation), for a JUnit report of the checks that ran.
class CheckReport
{
public:
    CheckReport(TStreamWriter *out, TStreamWriter *errors, bool json, bool terminal);

    void Port(const PortReport &port);
    void Problem(const QString &check, const QString &text);
    void Complaint(const QString &text);
    void Progress(const CheckTally &tally, qint64 frames);
    void Counters(const QString &side, const std::optional<LineCounters> &change);
    void Handshake(const std::optional<std::vector<HandshakePair>> &pairs);
    void Isolation(const QString &side, const QString &result);
    // A check that ran, and whether it passed.
    void Ran(const QString &check, bool passed);
    void Summary(const RunSummary &summary);
    // The run could not begin (a port would not open): for the JSON and
    // JUnit readers, who do not read standard error.
    void SetupFailed(const QStringList &reasons, int status);

    // The checks that ran, as one JUnit test suite; false when it could not
    // be written.
    bool WriteJUnit(const QString &path) const;

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
    QStringList ran_;                  // in the order they ran
    QHash<QString, bool> passed_;
    QHash<QString, QStringList> lines_; // what a person reads, per check
    double seconds_ = 0;
};
