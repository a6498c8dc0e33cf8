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

QString BothEnds(const FailureFacts &facts)
{
    const int number = facts.route.number;
    if (facts.otherSide == number)
        return QStringLiteral("%1 is the other side's number too, and one device cannot be both ends of the cable.")
            .arg(Com(number));
    return QStringLiteral("%1 leads to the same device as %2, which the other side of this window holds; one "
                          "device cannot be both ends of the cable.")
        .arg(Com(number), Com(facts.otherSide));
}

QString TwoNumbers()
{
    return QStringLiteral("The COM numbers stay as they are until the window closes: close it and start comloop "
                          "again with two different numbers.");
}
