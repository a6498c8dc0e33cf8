#pragma once

#include "check_tally.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <string_view>

class CheckReport;
class TCommPort;

// Sends frames from the slave one at a time and checks what the master
// finds. A frame is settled before the next goes out: received when the
// next value found is the one sent, wrong when it is another, missing when
// none comes within the timeout.
class TLinkCheck : public QObject
{
    Q_OBJECT
public:
    enum class End { Done, Interrupted, PortLost };
    enum class Outcome { Received, Wrong, Missing };

    TLinkCheck(TCommPort *master, TCommPort *slave, qint64 frames, int timeoutMs, CheckReport *report,
               QObject *owner);

    void Start();
    // Ends the run with the summary so far; the frame in flight, if any, is
    // left out of it.
    void Stop(End end);

signals:
    // The exit status: the verdict, or 2 when a port was lost.
    void Finished(int status);

private:
    void SendNext();
    void Arrived(int count);
    void Found(std::int32_t value, std::string_view digits);
    void TimedOut();
    void Settle(Outcome outcome);
    double MsSince(qint64 ns) const;

    TCommPort *master_;
    TCommPort *slave_;
    qint64 frames_;
    int timeoutMs_;
    CheckReport *report_;
    QTimer timeout_;
    QElapsedTimer clock_;
    CheckTally tally_;
    bool running_ = false; // a frame is in flight
    bool stopped_ = false;
    std::int32_t value_ = 0; // of the frame in flight
    qint64 sentNs_ = 0;
    // The frame before, while it is one that did not come back as sent: its
    // value may still turn up, and is then no fault of the frame in flight.
    bool previousOwed_ = false;
    std::int32_t previousValue_ = 0;
    qint64 previousSentNs_ = 0;
};
