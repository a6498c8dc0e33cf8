#include "check_ports.h"

#include "com_map.h"
#include "port_advice.h"
#include "port_facts.h"
#include "serial_port.h"

#include <QDir>

namespace {

RouteFacts Route(int number, const QString &path)
{
    return path.isEmpty() ? LookUpRoute(number) : LookUpPath(path);
}

} // namespace

QString DescribePort(const PortName &name)
{
    const RouteFacts route = Route(name.number, name.path);
    if (name.path.isEmpty())
        return RouteHint(route, QDir::homePath());
    if (route.device == name.path)
        return name.path;
    return QStringLiteral("%1 → %2").arg(name.path, route.device);
}

bool SamePort(const PortName &a, const PortName &b)
{
    const QString device = Route(a.number, a.path).device;
    return !device.isEmpty() && device == Route(b.number, b.path).device;
}

bool OpenPort(TCommPort &port, const PortName &name)
{
    port.SetComNumber(name.number);
    port.SetPath(name.path);
    port.SetOpen(true);
    return port.GetOpen();
}

QString PortAdvice(const TCommPort &port)
{
    FailureFacts facts;
    facts.route = Route(port.GetComNumber(), port.GetPath());
    facts.kind = port.GetLastErrorKind();
    facts.reason = port.GetLastError();
    facts.serialDevices = PresentSerialDevices();
    facts.linkFolder = ComLinkFolder();
    facts.lost = port.GetLost();
    facts.lock = port.GetLock();
    facts.access = LookUpAccess(port.GetDevice());
    facts.retry = QStringLiteral("run comloop-check again");
    return FailureHint(facts, QDir::homePath());
}
