#pragma once

#include "port_advice.h"

class TCommPort;

// The file system's side of the advice: where a number leads right now,
// which serial devices exist, and who may open a device.
RouteFacts LookUpRoute(int number);
RouteFacts LookUpPath(const QString &path);
// Where a port leads: by its path when it has one, else by its number.
RouteFacts LookUpPort(int number, const QString &path);
QStringList PresentSerialDevices();
AccessFacts LookUpAccess(const QString &device);

// Everything known about why `port` last failed, as the moment finds it.
// Where the advice is shown fills in the rest: the other side of a window,
// or what to do instead of pressing Open Ports.
FailureFacts LookUpFailure(const TCommPort &port);
