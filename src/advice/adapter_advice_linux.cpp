#include "port_advice.h"

#include <QFileInfo>

QString LatencyAdvice(const QString &side, const QString &device, int latencyMs)
{
    // The USB serial drivers keep the timer beside the tty in sysfs; 1 ms
    // is the least they take.
    return QStringLiteral("the %1 adapter holds what it receives for up to %2 ms (its latency timer): "
                          "echo 1 | sudo tee /sys/class/tty/%3/device/latency_timer")
        .arg(side)
        .arg(latencyMs)
        .arg(QFileInfo(device).fileName());
}
