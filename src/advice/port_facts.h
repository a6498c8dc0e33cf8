#pragma once

#include "port_advice.h"

// The file system's side of the advice: where a number leads right now,
// which serial devices exist, and who may open a device.
RouteFacts LookUpRoute(int number);
RouteFacts LookUpPath(const QString &path);
QStringList PresentSerialDevices();
AccessFacts LookUpAccess(const QString &device);
