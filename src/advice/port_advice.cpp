#include "port_advice.h"

#include "advice_words.h"

#include <QRegularExpression>

namespace {

enum class Trouble { NoPort, Lock, Held, Busy, Denied, Missing, Vanished, NotSerial };

Trouble Classify(const FailureFacts &facts)
{
    if (facts.route.device.isEmpty())
        return Trouble::NoPort;
    if (facts.lost)
        return Trouble::Vanished;
    switch (facts.lock.state) {
    case PortLock::Free:
        break;
    case PortLock::Held:
        return Trouble::Held;
    case PortLock::Unfit:
    case PortLock::Stuck:
    case PortLock::NameTooLong:
        return Trouble::Lock;
    }
    switch (facts.kind) {
    case QSerialPort::PermissionError:
        // Qt reports a lock held by another program, and a device opened for
        // exclusive use (EBUSY), with the same kind as EACCES; only the words
        // tell them apart.
        if (facts.reason.contains(QStringLiteral("lock"), Qt::CaseInsensitive)
            || facts.reason.contains(QStringLiteral("busy"), Qt::CaseInsensitive))
            return Trouble::Busy;
        return Trouble::Denied;
    case QSerialPort::DeviceNotFoundError:
        return Trouble::Missing;
    case QSerialPort::ResourceError:
        return Trouble::Vanished;
    default:
        return Trouble::NotSerial;
    }
}

QString WithStop(const QString &sentence)
{
    return sentence.endsWith(QLatin1Char('.')) ? sentence : sentence + QLatin1Char('.');
}

QString PresentDevices(const QStringList &devices)
{
    if (devices.isEmpty())
        return QStringLiteral("No USB serial device is present now (none of /dev/ttyUSB*, "
                              "/dev/ttyACM*, /dev/serial/by-id/*): is the adapter plugged in?");
    return QStringLiteral("Serial devices present now: %1.").arg(devices.join(QStringLiteral(", ")));
}

QStringList MissingAdvice(const FailureFacts &facts, const QString &home)
{
    const RouteFacts &route = facts.route;
    // A path leads nowhere else, and no link of ours can mend it.
    if (!route.path.isEmpty())
        return {PresentDevices(facts.serialDevices)};
    QStringList lines;
    if (route.link.isEmpty())
        lines << QStringLiteral("%1 has no link in %2, so it leads to the built-in port %3.")
                     .arg(Com(route.number), ShortPath(facts.linkFolder, home), route.device);
    else
        lines << QStringLiteral("%1 leads to %2 through %3.")
                     .arg(Com(route.number), route.device, ShortPath(route.link, home));

    lines << PresentDevices(facts.serialDevices);

    lines << QStringLiteral("To give %1 a device:").arg(Com(route.number))
          << LinkCommands(facts, Candidate(facts.serialDevices), home) << ThenRetry(facts);
    return lines;
}

} // namespace

QString Com(int number)
{
    return QStringLiteral("COM%1").arg(number);
}

QString Retry(const FailureFacts &facts, const QString &inWindow)
{
    return facts.retry.isEmpty() ? inWindow : facts.retry;
}

QString ThenRetry(const FailureFacts &facts)
{
    return QStringLiteral("then %1.").arg(Retry(facts, QStringLiteral("press Open Ports again")));
}

QString ShellWord(const QString &word)
{
    if (word.startsWith(QStringLiteral("~/")) && word.size() > 2)
        return QStringLiteral("~/") + ShellWord(word.mid(2));
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:@%+=,~-]+$"));
    if (plain.match(word).hasMatch())
        return word;
    return QLatin1Char('\'') + QString(word).replace(QLatin1Char('\''), QStringLiteral("'\\''")) + QLatin1Char('\'');
}

QString LinkOf(const FailureFacts &facts, const QString &home)
{
    const RouteFacts &route = facts.route;
    return ShortPath(route.link.isEmpty() ? facts.linkFolder + QStringLiteral("/com%1").arg(route.number) : route.link,
                     home);
}

// The stable by-id name is the better suggestion: it survives replugging.
QString Candidate(const QStringList &devices, const QString &except)
{
    QStringList others = devices;
    others.removeAll(except);
    for (const QString &device : others)
        if (device.startsWith(QStringLiteral("/dev/serial/by-id/")))
            return device;
    return others.value(0, QStringLiteral("/dev/serial/by-id/..."));
}

QStringList LinkCommands(const FailureFacts &facts, const QString &target, const QString &home)
{
    QStringList lines;
    if (facts.route.link.isEmpty())
        lines << QStringLiteral("    mkdir -p %1").arg(ShellWord(ShortPath(facts.linkFolder, home)));
    lines << QStringLiteral("    ln -sfn %1 %2").arg(ShellWord(target), ShellWord(LinkOf(facts, home)));
    return lines;
}

QString ShortPath(const QString &path, const QString &home)
{
    if (!home.isEmpty() && home != QStringLiteral("/") && path.startsWith(home + QLatin1Char('/')))
        return QLatin1Char('~') + path.mid(home.size());
    return path;
}

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
    const QString lost = facts.lost ? QStringLiteral(" went away") : QString();
    if (route.device.isEmpty())
        lines << WithStop(facts.reason);
    else if (named == route.device)
        lines << QStringLiteral("%1%2: %3").arg(named, lost, WithStop(facts.reason));
    else
        lines << QStringLiteral("%1 (%2)%3: %4").arg(named, route.device, lost, WithStop(facts.reason));

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
        lines << QStringLiteral("Another program holds this port (a terminal program, a modem "
                                "manager, another comloop). Close it, %1")
                     .arg(ThenRetry(facts))
              << QStringLiteral("To see which one: fuser -v %1").arg(ShellWord(route.device));
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
