#pragma once

#include <QByteArray>
#include <QString>

// Serial programs tell each other a port is taken with a lock file named
// after the device. A port takes its device's lock before it opens it, and
// gives it back when it closes; a lock whose program has ended is taken
// over. The facts are kept as they were found, for the advice to word.
struct PortLock
{
    enum State {
        Free,        // taken by this port, or there is nowhere to take it: the open may go on
        Held,        // a running process holds the device
        Unfit,       // something that is not a lock sits where the lock goes
        Stuck,       // a stale lock this user may not remove
        NameTooLong, // the device's lock file name would be too long to exist
    };
    // Unfit: what sits there instead.
    enum Fault { NoFault, Pipe, Directory, Link, Socket, Node, Huge, Unreadable, Empty, NoProcess, Changing };
    State state = Free;
    QString path = {};      // the lock file
    qint64 pid = 0;         // Held: the process
    QString owner = {};     // Held: its command name, when the system tells it
    bool self = false;      // Held: it is this very process
    Fault fault = NoFault;  // Unfit
    QString target = {};    // Unfit Link: where it points
    qint64 size = 0;        // Unfit Huge: how long it is
    QByteArray text = {};   // Unfit NoProcess: its first line
    QString why = {};       // Unfit Unreadable, Stuck: the system's own words
    bool mine = false;      // this user may remove the file without sudo
    bool taken = false;     // Free: this port made the file, and removes it on close
    quint64 device = 0;     // taken: which file that is, so that only it
    quint64 inode = 0;      // is ever removed
};

// Takes the lock of `device` for this process, or says why not. Nothing in
// the lock folder can make it wait, read without end, or follow a link.
PortLock LockPort(const QString &device);
// Removes the lock LockPort took, if it is still the one it made.
void UnlockPort(const PortLock &lock);
