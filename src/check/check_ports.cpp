#include "check_ports.h"

#include "port_advice.h"
#include "port_facts.h"
#include "serial_port.h"

#include <QDir>

namespace {

QString Described(const RouteFacts &route)
{
    if (route.path.isEmpty())
        return RouteHint(route, QDir::homePath());
    if (route.device == route.path)
        return route.path;
    return QStringLiteral("%1 → %2").arg(route.path, route.device);
}

} // namespace

QString DescribePort(const PortName &name)
{
    return Described(LookUpPort(name.number, name.path));
}

QString DescribePort(const TCommPort &port)
{
    return Described(LookUpRoute(port));
}

bool SamePort(const PortName &a, const PortName &b)
{
    const QString device = LookUpPort(a.number, a.path).device;
    return !device.isEmpty() && device == LookUpPort(b.number, b.path).device;
}

bool OpenPort(TCommPort &port, const PortName &name, const LineSettings &line)
{
    port.SetComNumber(name.number);
    port.SetSettings(line);
    port.SetPath(name.path);
    port.SetOpen(true);
    return port.GetOpen();
}

void DropWaiting(TCommPort &port)
{
    while (port.GetInBuffUsed() > 0)
        port.GetChar();
}

QString PortAdvice(const TCommPort &port)
{
    FailureFacts facts = LookUpFailure(port);
    facts.retry = QStringLiteral("run comloop-check again");
    return FailureHint(facts, QDir::homePath());
}
