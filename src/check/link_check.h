#pragma once

#include "frame_ledger.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <string_view>

class CheckReport;
class TCommPort;

// Sends frames from the slave one at a time and checks what the master
// finds, stop and wait: a frame goes out once the one before has left the
// slave's port (its driver holds nothing more) and its value has come back
// or its timeout passed. Nothing else found at the master, noise included,
// ever lets a frame go sooner, so the run never sends faster than the line
// carries. Values are matched as FrameLedger says.
class TLinkCheck : public QObject
{
    Q_OBJECT
public:
    enum class End { Done, Interrupted, PortLost, LineStuck };

    // Its problems are filed under `check`, each line led by `label`.
    TLinkCheck(TCommPort *master, TCommPort *slave, qint64 frames, int timeoutMs, CheckReport *report,
               const QString &check, const QString &label, QObject *owner);

    void Start();
    // Ends the run; the frame awaited, if any, is left out of its tally.
    void Stop(End end);
    const CheckTally &Tally() const { return ledger_.Tally(); }

signals:
    void Finished(TLinkCheck::End end);

private:
    void SendNext();
    void Arrived(int count);
    void Found(std::int32_t value, std::string_view digits);
    void TimedOut();
    void Problem(const QString &text);
    qint64 Now() const { return clock_.nsecsElapsed(); }

    TCommPort *master_;
    TCommPort *slave_;
    qint64 frames_;
    int timeoutMs_;
    CheckReport *report_;
    QString check_;
    QString label_;
    QTimer timeout_;
    QTimer drained_; // looks again whether the slave's port has sent all
    QElapsedTimer clock_;
    QElapsedTimer draining_; // since the next frame was due
    FrameLedger ledger_;
    bool stopped_ = false;
};
