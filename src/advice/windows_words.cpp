#include "advice_words.h"

// The words that name Windows' own tools.

QString WhoUses(const QString &)
{
    return QStringLiteral("Resource Monitor (resmon), CPU tab, Associated Handles: search for \"Serial\", "
                          "\"VCP\" or \"USBSER\"");
}

QString PresentDevices(const QStringList &devices)
{
    if (devices.isEmpty())
        return QStringLiteral("Windows lists no COM port now: is the adapter plugged in, and its driver "
                              "installed (Device Manager, Ports (COM & LPT))?");
    return QStringLiteral("COM ports present now: %1.").arg(devices.join(QStringLiteral(", ")));
}
