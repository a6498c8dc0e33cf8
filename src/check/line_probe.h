#pragma once

#include "serial_device.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class TCommPort;

// What only a port's driver can tell about the line, and what it can be
// made to do, for the checks beyond the frames. A device that cannot (a
// pseudo-terminal) gives nothing, never zeros.

// What of the line asked for the driver did not take, as a person reads it
// ("9600 baud (it runs at 38400)", "even parity (it uses no parity)");
// empty when it took it all.
QStringList NotTaken(const LineSettings &asked, const LineSettings &taken);

std::optional<LineCounters> ReadCounters(const TCommPort &port);
LineCounters Change(const LineCounters &before, const LineCounters &after);
// Framing, parity, overrun, buffer overrun and break: errors on the line.
qint64 LineErrors(const LineCounters &counted);
// "framing 2, parity 0, ...; CTS 0, DSR 0, DCD 0, RI 0 changes"
QString CountersText(const LineCounters &change);

// How an input line answered the output line it is wired to.
enum class Follow { Follows, StuckOn, StuckOff, Inverted };
QString FollowName(Follow follow);
struct HandshakePair
{
    QString out; // "master RTS"
    QString in;  // "slave CTS"
    Follow result;
};
// Drops and raises RTS and DTR on each side in turn, as a null-modem cable
// wires them, and watches the other side's CTS, DSR and DCD; each line is
// then put back as it was. Nothing when either side has no handshake lines.
// Waits at most a tenth of a second for each change.
std::optional<std::vector<HandshakePair>> TestHandshake(TCommPort &master, TCommPort &slave);
