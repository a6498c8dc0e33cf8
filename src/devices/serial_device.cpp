#include "serial_device.h"

qint64 TSerialDevice::Failed(PortFailure failure)
{
    // Nothing more is read or watched once the device has failed, on any
    // platform: the owner closes it, and a read that failed is never tried
    // again.
    WatchReads(false);
    WatchWrites(false);
    failure.gone = NodeGone();
    failure_ = failure;
    return -1;
}
