#pragma once

#include "frame_matcher.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>

class CheckReport;
class TCommPort;

// Sends frames from the slave one at a time and checks what the master
// finds, stop and wait: a frame goes out once the one before has left the
// slave's port (its driver holds nothing more) and has come back or its
// timeout passed. Nothing else found at the master, noise included, ever
// lets a frame go sooner, so the run never sends faster than the line
// carries. Every byte that comes is matched as FrameMatcher says; none is
// dropped, not even after a timeout or at the end. How frames are paced is
// its SendNext and TimedOut: a stream paces them its own way.
class TLinkCheck : public QObject
{
    Q_OBJECT
public:
    enum class End { Done, Interrupted, PortLost, LineStuck };

    // Its problems are filed under `check`, each line led by `label`.
    TLinkCheck(TCommPort *master, TCommPort *slave, qint64 frames, qint64 seed, int timeoutMs,
               CheckReport *report, const QString &check, const QString &label, QObject *owner);

    void Start();
    // Ends the run: what came is matched, and the frames awaited, if any,
    // are left out of its tally.
    void Stop(End end);
    const CheckTally &Tally() const { return matcher_.Tally(); }
    // A run aimed at a bound on the error rate cannot reach it once a frame
    // has failed: it ends there.
    void StopAtFirstFault() { stopAtFault_ = true; }

signals:
    void Finished(TLinkCheck::End end);

protected:
    // Sends what is due, or ends the run once all is settled.
    virtual void SendNext();
    // timeout_ fired.
    virtual void TimedOut();
    // The oldest frame awaited is given up on, and said missing unless its
    // bytes are here.
    void Expire();
    // The slave's port still holds `waiting` bytes: true while that is a
    // wait (SendNext is called again soon), false once the line is called
    // stuck and the run ended.
    bool Waits(std::uint32_t waiting);
    void Settled(const std::vector<FrameMatcher::Event> &events);
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
    QTimer straggler_; // the last frame settled, those owed get one more timeout
    QElapsedTimer clock_;
    QElapsedTimer draining_; // since the next frame was due
    FrameMatcher matcher_;
    bool stopped_ = false;
    bool stopAtFault_ = false;

private:
    QByteArray Take();
    void Arrived();

    qint64 sentFrames_ = 0;
};
