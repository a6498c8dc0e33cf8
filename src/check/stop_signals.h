#pragma once

#include <QObject>

class QSocketNotifier;

// Ctrl-C (INT) and TERM end a run the way its last frame would: with the
// summary, and with the ports closed so their locks go too. A signal
// handler may do next to nothing, so it only writes a byte into a socket
// pair; the event loop reads it and raises Raised(). One at a time.
class TStopSignals : public QObject
{
    Q_OBJECT
public:
    explicit TStopSignals(QObject *owner);
    ~TStopSignals() override;

signals:
    void Raised();

private:
    void Read();

    QSocketNotifier *notifier_ = nullptr;
};
