#pragma once

#include "check_options.h"
#include "check_report.h"
#include "link_check.h"
#include "run_record.h"

#include <QObject>

#include <optional>

class TCommPort;

// One run of comloop-check on two open ports, check after check: the ports
// described, their counters read, each port's own loopback (--isolate), the
// handshake lines (--lines), the frames across the link, the counters read
// again. What each found goes into the run's record; judging it is not
// this class's business.
class TCheckRun : public QObject
{
    Q_OBJECT
public:
    TCheckRun(const CheckOptions &options, TCommPort *master, TCommPort *slave, CheckReport *report,
              QObject *owner);

    void Start();
    // Ctrl-C and its kind, or a reader that went away: ends the run with
    // what it found so far.
    void Interrupt();
    // A port closed on its own: the run cannot go on.
    void Lost();
    // What the run finds can no longer be written: it stops.
    void Abandon();

signals:
    void Finished(const RunRecord &record);

private:
    struct Side
    {
        QString name;
        TCommPort *port;
        std::optional<LineCounters> before;
        DeviceInfo info;
    };
    enum class Isolated { Passes, Fails, NotAvailable };

    void Isolate(int side);
    void IsolationDone(int side, TLinkCheck::End end);
    void Cross();
    void Carry(int direction);
    void Carried(int direction, TLinkCheck::End end);
    void Finish(TLinkCheck::End end);
    void Counters();
    void Frames(int direction, TLinkCheck::End end);
    void Timing();
    QString FramesCheck(int direction) const;
    QStringList Notes() const;
    void Set(const QString &check, CheckResult::Outcome outcome, const QString &reason = {});

    CheckOptions options_;
    Side sides_[2];
    CheckReport *report_;
    TLinkCheck *current_ = nullptr;
    std::optional<Isolated> isolation_[2];
    RunRecord record_;
    bool interrupted_ = false;
    bool lost_ = false;
    bool abandoned_ = false;
};
