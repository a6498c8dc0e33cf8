#pragma once

#include <QString>

// UUCP lock files in /var/lock (LCK..<device name>) are how serial programs
// tell each other a port is taken. Qt writes and honours its own kind, but
// takes any other for stale even while its owner runs, and would open a port
// from under minicom or socat. This reads such a lock the way they mean it.
struct LockOwner
{
    qint64 pid = 0; // 0: no lock, a lock of Qt's own kind, or a dead owner
    QString name;   // the owner's command name, when the system tells it
};

// The running process, other than this one, that holds the device through a
// lock Qt would ignore.
LockOwner ForeignLockOwner(const QString &device);
