#include "port_advice.h"

#include "advice_words.h"
#include "trouble_advice.h"

namespace {

enum class Trouble { NoPort, Lock, Held, Busy, Denied, Missing, Vanished, NotSerial };

Trouble Classify(const FailureFacts &facts)
{
    const PortFailure &failure = facts.failure;
    if (failure.step == PortFailure::NoPort)
        return Trouble::NoPort;
    if (failure.Lost())
        return Trouble::Vanished;
    if (failure.step == PortFailure::Lock)
        return facts.lock.state == PortLock::Held ? Trouble::Held : Trouble::Lock;
    switch (failure.cause) {
    case PortFailure::Denied:
        return Trouble::Denied;
    case PortFailure::Busy:
        return Trouble::Busy;
    case PortFailure::Missing:
        return Trouble::Missing;
    default:
        return Trouble::NotSerial;
    }
}

// The failure in one sentence, without its stop.
QString Reason(const FailureFacts &facts)
{
    const PortFailure &failure = facts.failure;
    switch (failure.step) {
    case PortFailure::None:
        break;
    case PortFailure::NoPort:
        return QStringLiteral("%1 names no port: numbers start at 1").arg(Com(facts.route.number));
    case PortFailure::Lock:
        return LockReason(facts.route.device, facts.lock);
    case PortFailure::Open:
    case PortFailure::Setup:
        return failure.text;
    case PortFailure::Read:
    case PortFailure::Write:
    case PortFailure::Control:
        // Whatever error the dead device gives, the node is the truth.
        if (failure.gone)
            return QStringLiteral("it was disconnected (its device node is gone)");
        if (failure.cause == PortFailure::HungUp)
            return QStringLiteral("the line hung up");
        return failure.text;
    }
    return {};
}

// How the first line names what happened to an open port.
QString Happened(const PortFailure &failure)
{
    if (!failure.Lost())
        return {};
    if (failure.gone || failure.cause == PortFailure::HungUp)
        return QStringLiteral(" went away");
    switch (failure.step) {
    case PortFailure::Read:
        return QStringLiteral(" failed while receiving");
    case PortFailure::Write:
        return QStringLiteral(" failed while sending");
    default:
        return QStringLiteral(" failed");
    }
}

} // namespace

QString RouteHint(const RouteFacts &facts, const QString &home)
{
    if (facts.device.isEmpty())
        return QStringLiteral("%1 names no port: COM numbers start at 1").arg(Com(facts.number));
    QString text = QStringLiteral("%1 → %2").arg(Com(facts.number), facts.device);
    QStringList notes;
    if (!facts.link.isEmpty())
        notes << QStringLiteral("via %1").arg(ShortPath(facts.link, home));
    if (!facts.present)
        notes << QStringLiteral("no such device");
    if (!notes.isEmpty())
        text += QStringLiteral(" (%1)").arg(notes.join(QStringLiteral("; ")));
    return text;
}

QString FailureHint(const FailureFacts &facts, const QString &home)
{
    const RouteFacts &route = facts.route;
    QStringList lines;
    const QString named = route.path.isEmpty() ? Com(route.number) : route.path;
    QString reason = Reason(facts);
    if (!reason.endsWith(QLatin1Char('.')))
        reason += QLatin1Char('.');
    const QString happened = Happened(facts.failure);
    if (route.device.isEmpty())
        lines << reason;
    else if (named == route.device)
        lines << QStringLiteral("%1%2: %3").arg(named, happened, reason);
    else
        lines << QStringLiteral("%1 (%2)%3: %4").arg(named, route.device, happened, reason);

    switch (Classify(facts)) {
    case Trouble::NoPort:
        // The window keeps its numbers once it has tried them.
        if (facts.retry.isEmpty())
            lines << QStringLiteral("The COM numbers stay as they are until the window closes: close it and "
                                    "start comloop again with a COM number from 1 up.");
        else
            lines << QStringLiteral("Pick a COM number from 1 up, then %1.").arg(facts.retry);
        break;
    case Trouble::Lock:
        lines << LockAdvice(facts, home);
        break;
    case Trouble::Held:
        lines << HeldAdvice(facts, home);
        break;
    case Trouble::Busy:
        // Where the open itself is the lock, the other side of the window
        // holding this device shows only here.
        if (facts.otherSide) {
            lines << BothEnds(facts) << TwoNumbers();
            break;
        }
        lines << QStringLiteral("Another program holds this port (a terminal program, a modem "
                                "manager, another comloop). Close it, %1")
                     .arg(ThenRetry(facts))
              << QStringLiteral("To see which one: %1").arg(WhoUses(route.device));
        break;
    case Trouble::Denied:
        lines << AccessAdvice(facts);
        break;
    case Trouble::Missing:
        lines << MissingAdvice(facts, home);
        break;
    case Trouble::Vanished:
        lines << QStringLiteral("Was the adapter unplugged, or the cable ended? Plug it in again (or make "
                                "the cable again under the same link), then %1.")
                     .arg(Retry(facts, QStringLiteral("press Open Ports: it opens this side again with the "
                                                      "same number")));
        break;
    case Trouble::NotSerial:
        if (route.path.isEmpty())
            lines << QStringLiteral("This does not look like a serial port: check where %1 leads.")
                         .arg(Com(route.number));
        else
            lines << QStringLiteral("This does not look like a serial port: check the path.");
        break;
    }
    return lines.join(QLatin1Char('\n'));
}
