#pragma once

#include "check_options.h"
#include "check_report.h"
#include "link_check.h"

#include <QObject>

#include <optional>

class TCommPort;

// One run of comloop-check on two open ports, check after check: the ports
// described, their counters read, each port's own loopback (--isolate), the
// handshake lines (--lines), the frames across the link, the counters read
// again, and the verdict from everything that ran.
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

signals:
    void Finished(int status);

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
    void Finish(TLinkCheck::End end);
    QStringList VerdictLines(const TimingReading &timing, bool framesPass) const;

    CheckOptions options_;
    Side sides_[2];
    CheckReport *report_;
    TLinkCheck *current_ = nullptr;
    std::optional<Isolated> isolation_[2];
    bool fault_ = false;
    bool unavailable_ = false;
    bool interrupted_ = false;
    bool lost_ = false;
};
