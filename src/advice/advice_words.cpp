#include "advice_words.h"

QString Com(int number)
{
    return QStringLiteral("COM%1").arg(number);
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
