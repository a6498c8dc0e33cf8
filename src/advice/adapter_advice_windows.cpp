#include "port_advice.h"

QString LatencyAdvice(const QString &side, const QString &, int latencyMs)
{
    // Windows' USB serial drivers show the timer among the port's advanced
    // settings, and take it from there.
    return QStringLiteral("the %1 adapter holds what it receives for up to %2 ms (its latency timer): set it "
                          "to 1 ms in Device Manager, the port's Properties, Port Settings, Advanced")
        .arg(side)
        .arg(latencyMs);
}
