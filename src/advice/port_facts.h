#pragma once

#include "port_advice.h"

// The file system's side of the advice: where a number leads right now and
// which serial devices exist.
RouteFacts LookUpRoute(int number);
RouteFacts LookUpPath(const QString &path);
QStringList PresentSerialDevices();
