#include "advice_words.h"
#include "posix_words.h"

#include <QRegularExpression>

// The words that name POSIX commands, Linux device paths and shell quoting.

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

QString WhoUses(const QString &device)
{
    return QStringLiteral("fuser -v %1").arg(ShellWord(device));
}

QString PresentDevices(const QStringList &devices)
{
    if (devices.isEmpty())
        return QStringLiteral("No USB serial device is present now (none of /dev/ttyUSB*, "
                              "/dev/ttyACM*, /dev/serial/by-id/*): is the adapter plugged in?");
    return QStringLiteral("Serial devices present now: %1.").arg(devices.join(QStringLiteral(", ")));
}
