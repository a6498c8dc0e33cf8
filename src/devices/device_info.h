#pragma once

#include <QString>

// What the system tells of the hardware behind a device: which kernel
// driver serves it and, for a USB adapter, which one it is. Empty where
// nothing is told (a pseudo-terminal).
struct DeviceInfo
{
    QString driver;      // "serial8250", "ftdi_sio", ...
    QString usbId;       // vendor:product, "0403:6001"
    QString product;     // as the adapter names itself; on Windows, the port's friendly name
    int latencyMs = -1;  // an FTDI chip's latency timer; -1: it has none
};

DeviceInfo LookUpDeviceInfo(const QString &device);
