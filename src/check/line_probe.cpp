#include "line_probe.h"

#include "serial_port.h"

#include <QDeadlineTimer>
#include <QThread>

namespace {

// Long enough for a USB adapter, which reports its input lines only with
// its next packet (16 ms apart by default), to show a change.
constexpr int kSettleMs = 100;

// The input line's state once it reads as `expected`, or as it is when the
// wait runs out.
bool Settled(TSerialDevice *device, unsigned line, bool expected)
{
    QDeadlineTimer deadline(kSettleMs);
    for (;;) {
        const bool raised = (device->ModemLines().value_or(0) & line) != 0;
        if (raised == expected || deadline.hasExpired())
            return raised;
        QThread::msleep(1);
    }
}

QString ParityName(Parity parity)
{
    switch (parity) {
    case Parity::Even:
        return QStringLiteral("even parity");
    case Parity::Odd:
        return QStringLiteral("odd parity");
    case Parity::None:
        break;
    }
    return QStringLiteral("no parity");
}

QString StopBitsName(int bits)
{
    return bits == 1 ? QStringLiteral("1 stop bit") : QStringLiteral("%1 stop bits").arg(bits);
}

QString FlowName(Flow flow)
{
    return flow == Flow::RtsCts ? QStringLiteral("RTS/CTS flow control") : QStringLiteral("no flow control");
}

Follow Judge(bool whenDropped, bool whenRaised)
{
    if (whenDropped == whenRaised)
        return whenRaised ? Follow::StuckOn : Follow::StuckOff;
    return whenRaised ? Follow::Follows : Follow::Inverted;
}

} // namespace

QStringList NotTaken(const LineSettings &asked, const LineSettings &taken)
{
    QStringList missed;
    if (taken.baud != asked.baud)
        missed << QStringLiteral("%1 baud (it runs at %2)")
                      .arg(asked.baud)
                      .arg(taken.baud ? QString::number(taken.baud) : QStringLiteral("a rate of its own"));
    if (taken.dataBits != asked.dataBits)
        missed << QStringLiteral("%1 data bits (it uses %2)").arg(asked.dataBits).arg(taken.dataBits);
    if (taken.parity != asked.parity)
        missed << QStringLiteral("%1 (it uses %2)").arg(ParityName(asked.parity), ParityName(taken.parity));
    if (taken.stopBits != asked.stopBits)
        missed << QStringLiteral("%1 (it uses %2)").arg(StopBitsName(asked.stopBits), StopBitsName(taken.stopBits));
    if (taken.flow != asked.flow)
        missed << QStringLiteral("%1 (it uses %2)").arg(FlowName(asked.flow), FlowName(taken.flow));
    return missed;
}

std::optional<LineCounters> ReadCounters(const TCommPort &port)
{
    return port.GetLine() ? port.GetLine()->Counters() : std::nullopt;
}

LineCounters Change(const LineCounters &before, const LineCounters &after)
{
    return {after.framing - before.framing, after.parity - before.parity,
            after.overrun - before.overrun, after.bufferOverrun - before.bufferOverrun,
            after.breaks - before.breaks,   after.cts - before.cts,
            after.dsr - before.dsr,         after.dcd - before.dcd,
            after.ring - before.ring};
}

qint64 LineErrors(const LineCounters &counted)
{
    return counted.framing + counted.parity + counted.overrun + counted.bufferOverrun + counted.breaks;
}

QString CountersText(const LineCounters &change)
{
    return QStringLiteral("framing %1, parity %2, overrun %3, buffer overrun %4, break %5; "
                          "CTS %6, DSR %7, DCD %8, RI %9 changes")
        .arg(change.framing)
        .arg(change.parity)
        .arg(change.overrun)
        .arg(change.bufferOverrun)
        .arg(change.breaks)
        .arg(change.cts)
        .arg(change.dsr)
        .arg(change.dcd)
        .arg(change.ring);
}

QString FollowName(Follow follow)
{
    switch (follow) {
    case Follow::Follows:
        return QStringLiteral("follows");
    case Follow::StuckOn:
        return QStringLiteral("stuck on");
    case Follow::StuckOff:
        return QStringLiteral("stuck off");
    case Follow::Inverted:
        break;
    }
    return QStringLiteral("inverted");
}

std::optional<std::vector<HandshakePair>> TestHandshake(TCommPort &master, TCommPort &slave)
{
    TSerialDevice *sides[] = {master.GetLine(), slave.GetLine()};
    const QString names[] = {QStringLiteral("master"), QStringLiteral("slave")};
    if (!sides[0] || !sides[1] || !sides[0]->ModemLines() || !sides[1]->ModemLines())
        return std::nullopt;
    // What a null-modem cable joins: RTS to CTS, DTR to DSR and DCD.
    struct Wire
    {
        unsigned out;
        const char *outName;
        unsigned in;
        const char *inName;
    };
    static const Wire wires[] = {{Rts, "RTS", Cts, "CTS"}, {Dtr, "DTR", Dsr, "DSR"}, {Dtr, "DTR", Dcd, "DCD"}};
    std::vector<HandshakePair> pairs;
    for (int from = 0; from < 2; ++from) {
        TSerialDevice *out = sides[from];
        TSerialDevice *in = sides[1 - from];
        const unsigned found = out->ModemLines().value_or(0);
        for (const Wire &wire : wires) {
            out->SetModemLines(wire.out, false);
            const bool whenDropped = Settled(in, wire.in, false);
            out->SetModemLines(wire.out, true);
            const bool whenRaised = Settled(in, wire.in, true);
            pairs.push_back({names[from] + QLatin1Char(' ') + QLatin1String(wire.outName),
                             names[1 - from] + QLatin1Char(' ') + QLatin1String(wire.inName),
                             Judge(whenDropped, whenRaised)});
        }
        // As opening left them.
        out->SetModemLines(Rts | Dtr, false);
        out->SetModemLines(found & (Rts | Dtr), true);
    }
    return pairs;
}
