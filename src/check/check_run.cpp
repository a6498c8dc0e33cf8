#include "check_run.h"

#include "check_line.h"
#include "check_ports.h"
#include "frame.h"
#include "serial_port.h"

#include <QFileInfo>

#include <algorithm>

namespace {

// Enough for every hex digit on each place, and over in a moment.
constexpr qint64 kLoopbackFrames = 16;

} // namespace

TCheckRun::TCheckRun(const CheckOptions &options, TCommPort *master, TCommPort *slave, CheckReport *report,
                     QObject *owner)
    : QObject(owner), options_(options), sides_{{QStringLiteral("master"), master, {}, {}},
                                                {QStringLiteral("slave"), slave, {}, {}}},
      report_(report)
{
}

void TCheckRun::Start()
{
    for (Side &side : sides_) {
        side.info = LookUpDeviceInfo(side.port->GetDevice());
        const QStringList notTaken = NotTaken(side.port->GetLine()->Taken());
        fault_ = fault_ || !notTaken.isEmpty();
        report_->Port({side.name, DescribePort(*side.port), side.info, notTaken});
        side.before = ReadCounters(*side.port);
    }
    if (options_.isolate)
        Isolate(0);
    else
        Cross();
}

void TCheckRun::Isolate(int index)
{
    if (index == 2 || interrupted_ || lost_) {
        Cross();
        return;
    }
    Side &side = sides_[index];
    TSerialDevice *line = side.port->GetLine();
    // The UART sends to itself, and says so when asked back; a driver
    // without a loopback (USB adapters) ignores the bit or refuses it.
    if (!line->SetModemLines(Loop, true) || !(line->ModemLines().value_or(0) & Loop)) {
        line->SetModemLines(Loop, false);
        isolation_[index] = Isolated::NotAvailable;
        unavailable_ = true;
        report_->Isolation(side.name, QStringLiteral("not available on this device"));
        Isolate(index + 1);
        return;
    }
    DropWaiting(*side.port);
    current_ = new TLinkCheck(side.port, side.port, kLoopbackFrames, options_.timeoutMs, report_,
                              QStringLiteral("isolation"), side.name + QStringLiteral(" loopback: "), this);
    connect(current_, &TLinkCheck::Finished, this, [this, index](TLinkCheck::End end) { IsolationDone(index, end); });
    current_->Start();
}

void TCheckRun::IsolationDone(int index, TLinkCheck::End end)
{
    Side &side = sides_[index];
    const bool passes = end == TLinkCheck::End::Done && Verdict(current_->Tally()) == 0;
    current_->deleteLater();
    current_ = nullptr;
    if (side.port->GetLine())
        side.port->GetLine()->SetModemLines(Loop, false);
    DropWaiting(*side.port);
    if (end == TLinkCheck::End::Done) {
        isolation_[index] = passes ? Isolated::Passes : Isolated::Fails;
        fault_ = fault_ || !passes;
        report_->Isolation(side.name, passes ? QStringLiteral("passes its own loopback")
                                             : QStringLiteral("fails its own loopback"));
        report_->Ran(QStringLiteral("isolation"), passes);
    }
    Isolate(index + 1);
}

void TCheckRun::Cross()
{
    if (options_.lines && !interrupted_ && !lost_) {
        const auto pairs = TestHandshake(*sides_[0].port, *sides_[1].port);
        report_->Handshake(pairs);
        if (!pairs) {
            unavailable_ = true;
        } else {
            const bool follow = std::all_of(pairs->begin(), pairs->end(),
                                            [](const HandshakePair &pair) { return pair.result == Follow::Follows; });
            fault_ = fault_ || !follow;
            report_->Ran(QStringLiteral("lines"), follow);
        }
    }
    for (Side &side : sides_)
        DropWaiting(*side.port);
    current_ = new TLinkCheck(sides_[0].port, sides_[1].port, options_.frames, options_.timeoutMs, report_,
                              QStringLiteral("frames"), {}, this);
    connect(current_, &TLinkCheck::Finished, this, &TCheckRun::Finish);
    if (interrupted_ || lost_)
        current_->Stop(lost_ ? TLinkCheck::End::PortLost : TLinkCheck::End::Interrupted);
    else
        current_->Start();
}

void TCheckRun::Finish(TLinkCheck::End end)
{
    const CheckTally tally = current_->Tally();
    bool counted = false;
    bool clean = true;
    for (Side &side : sides_) {
        if (!side.port->GetOpen())
            continue; // lost: what it counted went with it
        const std::optional<LineCounters> after = ReadCounters(*side.port);
        const std::optional<LineCounters> change =
            side.before && after ? std::optional(Change(*side.before, *after)) : std::nullopt;
        report_->Counters(side.name, change);
        if (!change)
            continue;
        counted = true;
        if (const qint64 errors = LineErrors(*change); errors > 0) {
            clean = false;
            report_->Problem(QStringLiteral("counters"),
                             QStringLiteral("%1: the driver counted %2 errors on the line during the run: %3")
                                 .arg(side.name)
                                 .arg(errors)
                                 .arg(CountersText(*change)));
        }
    }
    if (counted)
        report_->Ran(QStringLiteral("counters"), clean);
    fault_ = fault_ || !clean || end == TLinkCheck::End::LineStuck;

    const bool framesPass = end != TLinkCheck::End::LineStuck && Verdict(tally) == 0;
    report_->Ran(QStringLiteral("frames"), framesPass && end != TLinkCheck::End::PortLost);
    const TimingReading timing = ReadTiming(tally.roundTripsMs, kFrameOnLineMs);
    const int status = ExitStatus({framesPass, fault_, unavailable_, end == TLinkCheck::End::PortLost});
    report_->Summary({tally, options_.frames, end == TLinkCheck::End::Interrupted, timing,
                      (tally.received + tally.late + tally.wrong) * kFrameDigits * kLineDataBits,
                      VerdictLines(timing, framesPass), status});
    emit Finished(status);
}

QStringList TCheckRun::VerdictLines(const TimingReading &timing, bool framesPass) const
{
    QStringList lines;
    const bool bothPass = isolation_[0] == Isolated::Passes && isolation_[1] == Isolated::Passes;
    if (bothPass && !framesPass)
        lines << QStringLiteral("both ports pass their own loopback, so the fault lies in the cable or its "
                                "connectors");
    for (const Side &side : sides_)
        if (isolation_[&side - sides_] == Isolated::Fails)
            lines << QStringLiteral("the %1 port fails on its own: the fault lies in that port or its adapter")
                         .arg(side.name);
    if (timing.timing == Timing::Slow)
        for (const Side &side : sides_)
            if (side.info.latencyMs > 1)
                lines << QStringLiteral("the %1 adapter holds what it receives for up to %2 ms (its latency "
                                        "timer): echo 1 | sudo tee /sys/class/tty/%3/device/latency_timer")
                             .arg(side.name)
                             .arg(side.info.latencyMs)
                             .arg(QFileInfo(side.port->GetDevice()).fileName());
    return lines;
}

void TCheckRun::Interrupt()
{
    interrupted_ = true;
    if (current_)
        current_->Stop(TLinkCheck::End::Interrupted);
}

void TCheckRun::Lost()
{
    lost_ = true;
    if (current_)
        current_->Stop(TLinkCheck::End::PortLost);
}
