#include "trouble_advice.h"

// Windows keeps no lock files, so no lock stands in a port's way: a port
// another program holds fails to open as busy, and is advised as such.

QString LockReason(const QString &, const PortLock &)
{
    return {};
}

QStringList LockAdvice(const FailureFacts &, const QString &)
{
    return {};
}

QStringList HeldAdvice(const FailureFacts &, const QString &)
{
    return {};
}
