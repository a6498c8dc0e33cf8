#include "advice_words.h"

#include <cstring>

QString Com(int number)
{
    return QStringLiteral("COM%1").arg(number);
}

QString SystemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString ShortPath(const QString &path, const QString &home)
{
    if (!home.isEmpty() && home != QStringLiteral("/") && path.startsWith(home + QLatin1Char('/')))
        return QLatin1Char('~') + path.mid(home.size());
    return path;
}

QString Retry(const FailureFacts &facts, const QString &inWindow)
{
    return facts.retry.isEmpty() ? inWindow : facts.retry;
}

QString ThenRetry(const FailureFacts &facts)
{
    return QStringLiteral("then %1.").arg(Retry(facts, QStringLiteral("press Open Ports again")));
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
