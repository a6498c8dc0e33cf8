#include "port_lock.h"

// Windows keeps no lock files: it opens a COM port for one program at a
// time, so the open itself is the lock, and a port that another program
// holds fails to open as busy.
PortLock LockPort(const QString &)
{
    return {};
}

void UnlockPort(const PortLock &) {}
