#pragma once

#include <QString>

// UUCP lock files (LCK..<device name>) are how serial programs tell each
// other a port is taken. QSerialPort writes its own before it opens a port,
// but it reads whatever it finds there without limit and judges only its
// own kind well: a pipe planted there hangs it, a link to /dev/zero eats
// memory for ever, and it would open a port from under minicom or socat.
// So the lock is looked at and judged here first, the way every program that
// writes one means it, and a stale one is cleared away.
struct PortLock
{
    enum State {
        Free,        // no lock, or a stale one now removed: the open may go on
        Held,        // a running process holds the device
        Unfit,       // something that is not a lock sits where the lock goes
        Stuck,       // a stale lock this user may not remove
        NameTooLong, // the device's lock file name would be too long to exist
    };
    State state = Free;
    QString path = {};      // the lock file, in the folder QSerialPort uses
    qint64 pid = 0;         // Held: the process
    QString owner = {};     // Held: its command name, when the system tells it
    bool self = false;      // Held: it is this very process
    QString fault = {};     // Unfit: what it is instead; Stuck: why it stays
    bool directory = false; // Unfit: a folder, which takes rm -r
    bool mine = false;      // this user may remove the file without sudo
};

// Runs before every open: QSerialPort itself then finds either no lock file
// or none it would have to read.
PortLock CheckLock(const QString &device);

// Why the lock keeps `device` from opening, in one sentence.
QString LockReason(const QString &device, const PortLock &lock);
