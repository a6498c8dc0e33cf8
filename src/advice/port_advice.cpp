#include "port_advice.h"

namespace {

enum class Trouble { NoPort, Busy, Denied, Missing, Vanished, NotSerial };

Trouble Classify(const FailureFacts &facts)
{
    if (facts.route.device.isEmpty())
        return Trouble::NoPort;
    if (facts.lost)
        return Trouble::Vanished;
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

QString Com(int number)
{
    return QStringLiteral("COM%1").arg(number);
}

// What to do once the cause is gone: in the window, what Open Ports does.
QString Retry(const FailureFacts &facts, const QString &inWindow)
{
    return facts.retry.isEmpty() ? inWindow : facts.retry;
}

QString WithStop(const QString &sentence)
{
    return sentence.endsWith(QLatin1Char('.')) ? sentence : sentence + QLatin1Char('.');
}

// The stable by-id name is the better suggestion: it survives replugging.
QString BestCandidate(const QStringList &devices)
{
    for (const QString &device : devices)
        if (device.startsWith(QStringLiteral("/dev/serial/by-id/")))
            return device;
    return devices.value(0, QStringLiteral("/dev/serial/by-id/..."));
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
    const QString link = ShortPath(route.link, home);
    QStringList lines;
    if (route.link.isEmpty())
        lines << QStringLiteral("%1 has no link in %2, so it leads to the built-in port %3.")
                     .arg(Com(route.number), ShortPath(facts.linkFolder, home), route.device);
    else
        lines << QStringLiteral("%1 leads to %2 through %3.").arg(Com(route.number), route.device, link);

    lines << PresentDevices(facts.serialDevices);

    const QString target = route.link.isEmpty()
        ? ShortPath(facts.linkFolder + QStringLiteral("/com%1").arg(route.number), home)
        : link;
    lines << QStringLiteral("To give %1 a device:").arg(Com(route.number))
          << QStringLiteral("    mkdir -p %1").arg(ShortPath(facts.linkFolder, home))
          << QStringLiteral("    ln -sfn %1 %2").arg(BestCandidate(facts.serialDevices), target);
    return lines;
}

} // namespace

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
        lines << QStringLiteral("Pick a COM number from 1 up.");
        break;
    case Trouble::Busy:
        lines << QStringLiteral("Another program holds this port (a terminal program, a modem "
                                "manager, another comloop). Close it, then %1.")
                     .arg(Retry(facts, QStringLiteral("press Open Ports again")))
              << QStringLiteral("To see which one: fuser -v %1").arg(route.device);
        break;
    case Trouble::Denied:
        lines << QStringLiteral("Serial ports belong to the dialout group. Join it with")
              << QStringLiteral("    sudo usermod -aG dialout $USER")
              << QStringLiteral("then log out and log in again: the new group counts from the next login.");
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
