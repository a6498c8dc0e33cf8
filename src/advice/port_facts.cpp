#include "port_facts.h"

#include "com_map.h"
#include "serial_port.h"
#include "system_facts.h"

namespace {

RouteFacts Facts(const ComRoute &route)
{
    return {route.number, route.device, route.link, !route.device.isEmpty() && DevicePresent(route.device),
            route.path};
}

} // namespace

RouteFacts LookUpRoute(int number)
{
    return Facts(RouteCom(number));
}

RouteFacts LookUpPort(int number, const QString &path)
{
    return Facts(path.isEmpty() ? RouteCom(number) : RoutePath(path));
}

RouteFacts LookUpRoute(const TCommPort &port)
{
    return Facts(port.GetRoute());
}

FailureFacts LookUpFailure(const TCommPort &port)
{
    FailureFacts facts;
    facts.route = LookUpRoute(port);
    facts.failure = port.GetFailure();
    facts.serialDevices = PresentSerialDevices();
    facts.linkFolder = ComLinkFolder();
    facts.lock = port.GetLock();
    facts.access = LookUpAccess(port.GetDevice());
    return facts;
}
