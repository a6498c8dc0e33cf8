#pragma once

#include "port_failure.h"

#include <QObject>
#include <QString>

#include <memory>

// What a port asks of its line.
struct LineSettings
{
    int baud = 0;
    int dataBits = 0; // no parity, one stop bit, no flow control, raw
};

// One serial device, open for this process alone with its line set up as
// asked. Nothing here ever waits on the device for longer than a bounded
// moment: the event loop says when to read or write, and a device that
// fails or goes away is reported, not waited for.
class TSerialDevice : public QObject
{
    Q_OBJECT
public:
    // Null when it would not open; `failure` says why (Open or Setup).
    static TSerialDevice *Open(const QString &path, const LineSettings &line, QObject *owner,
                               PortFailure *failure);
    ~TSerialDevice() override;

    // The bytes moved, 0 when none can move now, or -1 when the device
    // failed or went away: Failure() tells how.
    qint64 Read(char *into, qint64 size);
    qint64 Write(const char *from, qint64 size);
    // Bytes written that the driver has not yet put on the line; -1 as above.
    qint64 Unsent();

    // Readable and Writable are raised only while watched.
    void WatchReads(bool watch);
    void WatchWrites(bool watch);

    // Gives what waits a bounded while to go out, puts back the settings the
    // device had before, and lets go of it. Nothing more moves afterwards.
    void Close();

    PortFailure Failure() const { return failure_; }

signals:
    void Readable();
    void Writable();

private:
    struct Line;
    TSerialDevice(std::unique_ptr<Line> line, QObject *owner);
    qint64 Failed(PortFailure::Step step, int error);

    std::unique_ptr<Line> line_;
    PortFailure failure_;
};
