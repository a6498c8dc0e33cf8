#include "check_run.h"

#include "check_line.h"
#include "check_ports.h"
#include "check_rules.h"
#include "frame.h"
#include "frame_matcher.h"
#include "port_advice.h"
#include "run_formats.h"
#include "serial_port.h"
#include "stream_check.h"

#include <algorithm>

namespace {

// Enough for every hex digit on the lowest place, and over in a moment.
constexpr qint64 kLoopbackFrames = 16;

QString Counted(const CheckTally &tally)
{
    QStringList parts;
    for (const auto &[count, what] : {std::pair{tally.missing, "missing"}, std::pair{tally.corrupt, "corrupt"},
                                      std::pair{tally.wrong, "wrong"}, std::pair{tally.strayBytes, "stray bytes"},
                                      std::pair{tally.reordered, "reordered"}})
        if (count > 0)
            parts << QStringLiteral("%1 %2").arg(count).arg(QLatin1String(what));
    return parts.join(QStringLiteral(", "));
}

} // namespace

TCheckRun::TCheckRun(const CheckOptions &options, TCommPort *master, TCommPort *slave, CheckReport *report,
                     QObject *owner)
    : QObject(owner), options_(options), sides_{{QStringLiteral("master"), master, {}, {}},
                                                {QStringLiteral("slave"), slave, {}, {}}},
      report_(report)
{
    record_.seed = options.seed;
    record_.framesAsked = options.FramesInAll();
    record_.line = {LineName(options.line), FrameOnLineMs(options.line), NominalBytesPerSecond(options.line)};
}

void TCheckRun::Set(const QString &check, CheckResult::Outcome outcome, const QString &reason)
{
    CheckResult &result = record_.Check(check);
    // A check run twice (on each side) keeps its worst.
    const auto rank = [](CheckResult::Outcome o) {
        return o == CheckResult::Failed ? 3 : o == CheckResult::CouldNotRun ? 2 : o == CheckResult::Passed ? 1 : 0;
    };
    if (rank(outcome) > rank(result.outcome)) {
        result.outcome = outcome;
        result.reason = reason;
    }
}

void TCheckRun::Start()
{
    QStringList notTaken;
    for (Side &side : sides_) {
        side.info = LookUpDeviceInfo(side.port->GetDevice());
        const QStringList missed = NotTaken(options_.line, side.port->GetLine()->Taken());
        for (const QString &setting : missed)
            notTaken << QStringLiteral("%1: %2").arg(side.name, setting);
        report_->Port({side.name, DescribePort(*side.port), side.info, missed, side.port->GetLine()->LoopbackWasOn()});
        side.before = ReadCounters(*side.port);
    }
    if (notTaken.isEmpty())
        Set(QStringLiteral("settings"), CheckResult::Passed);
    else
        Set(QStringLiteral("settings"), CheckResult::Failed,
            QStringLiteral("the device did not take %1").arg(notTaken.join(QStringLiteral("; "))));
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
        report_->Isolation(side.name, QStringLiteral("not available on this device"));
        Set(QStringLiteral("isolation"), CheckResult::CouldNotRun,
            QStringLiteral("%1: no loopback on this device").arg(side.name));
        Isolate(index + 1);
        return;
    }
    DropWaiting(*side.port);
    current_ = new TLinkCheck(side.port, side.port, kLoopbackFrames, options_.seed, options_.timeoutMs, report_,
                              QStringLiteral("isolation"), side.name + QStringLiteral(" loopback: "), this);
    connect(current_, &TLinkCheck::Finished, this, [this, index](TLinkCheck::End end) { IsolationDone(index, end); });
    current_->Start();
}

void TCheckRun::IsolationDone(int index, TLinkCheck::End end)
{
    Side &side = sides_[index];
    const bool passes = end == TLinkCheck::End::Done && Intact(current_->Tally());
    current_->deleteLater();
    current_ = nullptr;
    if (side.port->GetLine())
        side.port->GetLine()->SetModemLines(Loop, false);
    DropWaiting(*side.port);
    if (end == TLinkCheck::End::Done) {
        isolation_[index] = passes ? Isolated::Passes : Isolated::Fails;
        report_->Isolation(side.name, passes ? QStringLiteral("passes its own loopback")
                                             : QStringLiteral("fails its own loopback"));
        if (passes)
            Set(QStringLiteral("isolation"), CheckResult::Passed);
        else
            Set(QStringLiteral("isolation"), CheckResult::Failed,
                QStringLiteral("the %1 port fails its own loopback").arg(side.name));
    }
    Isolate(index + 1);
}

void TCheckRun::Cross()
{
    if (options_.lines && !interrupted_ && !lost_) {
        const auto pairs = TestHandshake(*sides_[0].port, *sides_[1].port);
        report_->Handshake(pairs);
        if (!pairs) {
            Set(QStringLiteral("lines"), CheckResult::CouldNotRun,
                QStringLiteral("a port's driver has no handshake lines"));
        } else {
            QStringList astray;
            for (const HandshakePair &pair : *pairs)
                if (pair.result != Follow::Follows)
                    astray << QStringLiteral("%1 -> %2: %3").arg(pair.out, pair.in, FollowName(pair.result));
            Set(QStringLiteral("lines"), astray.isEmpty() ? CheckResult::Passed : CheckResult::Failed,
                astray.join(QStringLiteral("; ")));
        }
    }
    Carry(0);
}

QString TCheckRun::FramesCheck(int direction) const
{
    return options_.both ? QStringLiteral("frames ") + record_.directions[direction].name : QStringLiteral("frames");
}

// The frames across: from the slave to the master, and with --both back
// again, each direction's values going on where the one before ended, so
// that a frame of one is never taken for the other's.
void TCheckRun::Carry(int direction)
{
    const Side &from = sides_[direction == 0 ? 1 : 0];
    const Side &to = sides_[direction == 0 ? 0 : 1];
    record_.directions.push_back({QStringLiteral("%1 to %2").arg(from.name, to.name), {}});
    for (Side &side : sides_)
        DropWaiting(*side.port);
    // A stream plans no count of frames: the way back starts half a round
    // of values on.
    const qint64 firstValue = (options_.seed + direction * (options_.frames > 0 ? options_.frames : kFrameValues / 2))
        % kFrameValues;
    const QString label = options_.both ? record_.directions[direction].name + QStringLiteral(": ") : QString();
    if (options_.streamSeconds > 0)
        current_ = new TStreamCheck(to.port, from.port, options_.streamSeconds, ByteMs(options_.line), firstValue,
                                    options_.timeoutMs, report_, FramesCheck(direction), label, this);
    else
        current_ = new TLinkCheck(to.port, from.port, options_.frames, firstValue, options_.timeoutMs, report_,
                                  FramesCheck(direction), label, this);
    if (options_.untilBer > 0)
        current_->StopAtFirstFault();
    connect(current_, &TLinkCheck::Finished, this, [this, direction](TLinkCheck::End end) { Carried(direction, end); });
    if (interrupted_ || lost_)
        current_->Stop(lost_ ? TLinkCheck::End::PortLost : TLinkCheck::End::Interrupted);
    else
        current_->Start();
}

void TCheckRun::Carried(int direction, TLinkCheck::End end)
{
    record_.directions[direction].tally = current_->Tally();
    Frames(direction, end);
    current_->deleteLater();
    current_ = nullptr;
    const bool goesOn = end == TLinkCheck::End::Done || end == TLinkCheck::End::LineStuck;
    if (direction == 0 && options_.both && goesOn && !interrupted_ && !lost_)
        Carry(1);
    else
        Finish(end);
}

void TCheckRun::Counters()
{
    for (Side &side : sides_) {
        if (!side.port->GetOpen())
            continue; // lost: what it counted went with it
        const std::optional<LineCounters> after = ReadCounters(*side.port);
        const std::optional<LineCounters> change =
            side.before && after ? std::optional(Change(*side.before, *after)) : std::nullopt;
        report_->Counters(side.name, change);
        if (!change)
            continue;
        if (const qint64 errors = LineErrors(*change); errors > 0) {
            const QString text = QStringLiteral("%1: the driver counted %2 errors on the line during the run: %3")
                                     .arg(side.name)
                                     .arg(errors)
                                     .arg(CountersText(*change));
            report_->Problem(QStringLiteral("counters"), text);
            Set(QStringLiteral("counters"), CheckResult::Failed, text);
        } else {
            Set(QStringLiteral("counters"), CheckResult::Passed);
        }
    }
}

void TCheckRun::Frames(int direction, TLinkCheck::End end)
{
    const DirectionRun &run = record_.directions[direction];
    const CheckTally &tally = run.tally;
    const QString check = FramesCheck(direction);
    // Where there are two directions, each reason names its own.
    const QString lead = options_.both ? run.name + QStringLiteral(": ") : QString();
    if (end == TLinkCheck::End::LineStuck)
        Set(check, CheckResult::Failed,
            lead + QStringLiteral("the %1's line took nothing").arg(sides_[direction == 0 ? 1 : 0].name));
    else if (const QString faults = Counted(tally); !faults.isEmpty())
        Set(check, CheckResult::Failed, lead + QStringLiteral("%1 of %2 frames settled").arg(faults).arg(tally.sent));
    else if (end != TLinkCheck::End::Done)
        Set(check, CheckResult::CouldNotRun, EndText(record_));
    else if (!Intact(tally))
        Set(check, CheckResult::Failed, lead + QStringLiteral("no frame was settled"));
    else
        Set(check, CheckResult::Passed);
}

// Asked for (--require-wire), the pace must be one a wire at the line's
// rate can have: a pseudo-terminal, an emulated UART or a rate not applied
// is too fast, an adapter's latency or another rate too slow.
void TCheckRun::Timing()
{
    if (!options_.requireWire)
        return;
    const TimingReading reading = ReadTiming(record_.Total().roundTrips, record_.line.frameOnLineMs);
    const QString text = TimingText(reading, record_.line.frameOnLineMs, record_.line.name);
    const QString check = QStringLiteral("timing");
    if (reading.timing == Timing::Consistent)
        Set(check, CheckResult::Passed);
    else if (reading.timing == Timing::Unknown)
        Set(check, CheckResult::CouldNotRun, QStringLiteral("no frame came back intact to be timed"));
    else {
        const QString reason = text.mid(text.indexOf(QLatin1Char(' ')) + 1);
        report_->Problem(check, QStringLiteral("--require-wire: ") + reason);
        Set(check, CheckResult::Failed, reason);
    }
}

void TCheckRun::Finish(TLinkCheck::End end)
{
    record_.end = end == TLinkCheck::End::PortLost      ? RunEnd::PortLost
                  : abandoned_                          ? RunEnd::OutputFailed
                  : end == TLinkCheck::End::Interrupted ? RunEnd::Interrupted
                                                        : RunEnd::Done;
    Counters();
    Timing();
    record_.notes = Notes();
    record_.problems = report_->Problems();
    record_.shownProblems = std::min(record_.problems, qint64(CheckReport::kShownProblems));
    for (CheckResult &check : record_.checks)
        check.lines = report_->LinesOf(check.name);
    emit Finished(record_);
}

QStringList TCheckRun::Notes() const
{
    QStringList lines;
    bool framesPass = true;
    for (int direction = 0; direction < int(record_.directions.size()); ++direction)
        if (const CheckResult *frames = record_.Find(FramesCheck(direction)); !frames || frames->outcome != CheckResult::Passed)
            framesPass = false;
    const bool bothPass = isolation_[0] == Isolated::Passes && isolation_[1] == Isolated::Passes;
    if (bothPass && !framesPass)
        lines << QStringLiteral("both ports pass their own loopback, so the fault lies in the cable or its "
                                "connectors");
    for (const Side &side : sides_)
        if (isolation_[&side - sides_] == Isolated::Fails)
            lines << QStringLiteral("the %1 port fails on its own: the fault lies in that port or its adapter")
                         .arg(side.name);
    if (ReadTiming(record_.Total().roundTrips, record_.line.frameOnLineMs).timing == Timing::Slow)
        for (const Side &side : sides_)
            if (side.info.latencyMs > 1)
                lines << LatencyAdvice(side.name, side.port->GetDevice(), side.info.latencyMs);
    return lines;
}

void TCheckRun::Interrupt()
{
    interrupted_ = true;
    if (current_)
        current_->Stop(TLinkCheck::End::Interrupted);
}

void TCheckRun::Abandon()
{
    abandoned_ = true;
    Interrupt();
}

void TCheckRun::Lost()
{
    lost_ = true;
    if (current_)
        current_->Stop(TLinkCheck::End::PortLost);
}
