#include "port_facts.h"

#include "com_map.h"

#include <QDir>
#include <QFileInfo>

RouteFacts LookUpRoute(int number)
{
    const ComRoute route = RouteCom(number);
    RouteFacts facts{number, route.device, route.link, false};
    if (route.device.isEmpty())
        return facts;
    const QFileInfo device(route.device);
    if (!route.link.isEmpty() && device.isSymLink() && !device.exists())
        facts.device = device.symLinkTarget();
    facts.present = device.exists();
    return facts;
}

RouteFacts LookUpPath(const QString &path)
{
    const ComRoute route = RoutePath(path);
    return {0, route.device, {}, QFileInfo::exists(route.device), path};
}

QStringList PresentSerialDevices()
{
    const auto filters = QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot;
    QStringList found;
    const QDir dev(QStringLiteral("/dev"));
    for (const QString &name : dev.entryList({QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")}, filters))
        found << dev.filePath(name);
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QString &name : byId.entryList(filters))
        found << byId.filePath(name);
    return found;
}
