#pragma once

#include "port_advice.h"

// What only the operating system can tell: which serial devices exist, and
// who may open a device.
bool DevicePresent(const QString &device);
QStringList PresentSerialDevices();
AccessFacts LookUpAccess(const QString &device);
