#pragma once

#include "port_failure.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

enum class Parity { None, Even, Odd };
enum class Flow { None, RtsCts };

// The line every comloop window uses, and comloop-check unless told
// otherwise: 9600 baud, 8 data bits, no parity, 1 stop bit.
inline constexpr int kLineBaud = 9600;
inline constexpr int kLineDataBits = 8;

// A port's line: its rate and framing, raw, with no software flow control.
struct LineSettings
{
    int baud = kLineBaud;
    int dataBits = kLineDataBits;
    Parity parity = Parity::None;
    int stopBits = 1;
    Flow flow = Flow::None;

    // A start bit, the data bits, a parity bit if any, and the stop bits.
    constexpr int BitsPerByte() const { return 1 + dataBits + (parity == Parity::None ? 0 : 1) + stopBits; }
    bool operator==(const LineSettings &) const = default;
};

// What a UART's driver has counted since the device came up: errors on the
// line, and how often each input line changed.
struct LineCounters
{
    qint64 framing = 0, parity = 0, overrun = 0, bufferOverrun = 0, breaks = 0;
    qint64 cts = 0, dsr = 0, dcd = 0, ring = 0;
};

// The handshake lines of a port, and its own loopback.
enum ModemLine : unsigned {
    Rts = 1u << 0, // out
    Dtr = 1u << 1, // out
    Cts = 1u << 2, // in
    Dsr = 1u << 3, // in
    Dcd = 1u << 4, // in
    Ring = 1u << 5, // in
    Loop = 1u << 6, // the UART sends to itself, not to the line
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

    // The line as the driver has set it: it may not have taken all it was
    // asked for, and says so only when asked back.
    LineSettings Taken();
    // Nothing, where the driver keeps no counters (a pseudo-terminal) or
    // no handshake lines.
    std::optional<LineCounters> Counters();
    std::optional<unsigned> ModemLines();
    // Raises (or drops) the ModemLine bits given: RTS, DTR, Loop; false when
    // the driver refuses.
    bool SetModemLines(unsigned lines, bool raised);

    // Readable and Writable are raised only while watched.
    void WatchReads(bool watch);
    void WatchWrites(bool watch);

    // Gives what waits a bounded while to go out, puts back the settings the
    // device had before, and lets go of it. Nothing more moves afterwards.
    void Close();

    PortFailure Failure() const { return failure_; }
    // Whether the device's node has vanished from its path, or another
    // device has taken it.
    bool NodeGone() const;
    // Whether the line has hung up, asked without reading from it: for an
    // owner who takes no input for now. A hang-up found so fails as a read
    // at end of file does.
    bool HungUp();
    // Whether the UART was sending to itself when it opened, as another
    // program's loopback test may leave it; the open turned that off.
    bool LoopbackWasOn() const;

signals:
    void Readable();
    void Writable();

private:
    struct Line;
    TSerialDevice(std::unique_ptr<Line> line, QObject *owner);
    qint64 Failed(PortFailure failure);

    std::unique_ptr<Line> line_;
    PortFailure failure_;
};
