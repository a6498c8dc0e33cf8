#include "port_lock.h"

#include "lock_file_posix.h"
#include "system_error_posix.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>

#include <unistd.h>

namespace {

// The name every UUCP-style program derives from the device: what follows
// /dev/, with slashes made underscores.
QString LockFileName(const QString &device)
{
    QString name = device.startsWith(QStringLiteral("/dev/")) ? device.mid(5) : device;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("LCK..") + name;
}

// Where serial programs on Linux keep their locks, named as it really is:
// Debian's /var/lock is a link to /run/lock.
QString LockFolder()
{
    for (const char *folder : {"/var/lock", "/run/lock"}) {
        const QFileInfo info(QString::fromLatin1(folder));
        if (info.isDir())
            return info.canonicalFilePath();
    }
    return {};
}

// The highest process number this system hands out.
qint64 PidMax()
{
    QFile file(QStringLiteral("/proc/sys/kernel/pid_max"));
    bool ok = false;
    const qint64 max = file.open(QIODevice::ReadOnly) ? file.read(32).trimmed().toLongLong(&ok) : 0;
    // 2^22 is the most Linux allows, should /proc not tell.
    return ok && max > 0 ? max : qint64(1) << 22;
}

// The process a lock names: UUCP's "%10d\n", socat's "%d", minicom's
// "%10d minicom user\n" and Qt's "pid\nprogram\nhost\n..." all begin with
// it. 0: no number at all; -1: a number no process can have.
qint64 NamedPid(const QByteArray &firstLine)
{
    const QByteArray word = firstLine.simplified().split(' ').value(0);
    const qsizetype sign = word.startsWith('-') || word.startsWith('+') ? 1 : 0;
    if (word.size() == sign
        || !std::all_of(word.begin() + sign, word.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    bool ok = false;
    const qint64 pid = word.toLongLong(&ok);
    return ok && pid >= 1 && pid <= PidMax() ? pid : -1;
}

bool Running(qint64 pid)
{
    // EPERM: it exists, it just belongs to someone else.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

// Qt's lock names its program on the second line; a process of another name
// under that number took the number over after the owner ended, and Qt
// itself takes such a lock for stale.
bool NumberReused(qint64 pid, const QByteArray &program)
{
    if (program.trimmed().isEmpty())
        return false;
    QString running = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
    if (running.isEmpty())
        return false; // another user's process: it may well be the owner
    const QString deleted = QStringLiteral(" (deleted)"); // its program file was replaced since
    if (running.endsWith(deleted))
        running.chop(deleted.size());
    return QFileInfo(running).fileName() != QFileInfo(QString::fromLocal8Bit(program.trimmed())).fileName();
}

QString CommandName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    return comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.read(64).trimmed()) : QString();
}

PortLock::Fault FaultOf(LockFileLook::Shape shape)
{
    switch (shape) {
    case LockFileLook::Pipe:
        return PortLock::Pipe;
    case LockFileLook::Directory:
        return PortLock::Directory;
    case LockFileLook::Link:
        return PortLock::Link;
    case LockFileLook::Socket:
        return PortLock::Socket;
    case LockFileLook::Node:
        return PortLock::Node;
    case LockFileLook::Huge:
        return PortLock::Huge;
    case LockFileLook::Unreadable:
        return PortLock::Unreadable;
    case LockFileLook::Absent:
    case LockFileLook::Text:
        break;
    }
    return PortLock::NoFault;
}

PortLock Unfit(PortLock lock, PortLock::Fault fault)
{
    lock.state = PortLock::Unfit;
    lock.fault = fault;
    return lock;
}

// What a lock in the way says. Free: nobody stands behind it any more, and
// it is gone now, or something else took its place and wants a look.
PortLock Judge(PortLock lock, const LockFileLook &look)
{
    lock.mine = look.mine;
    if (look.shape != LockFileLook::Text) {
        lock.target = look.target;
        lock.size = look.size;
        lock.why = look.error ? ErrorText(look.error) : QString();
        return Unfit(lock, FaultOf(look.shape));
    }
    const QList<QByteArray> lines = look.text.split('\n');
    const qint64 pid = NamedPid(lines.value(0));
    if (pid == 0) {
        lock.text = lines.value(0).trimmed().left(40);
        return Unfit(lock, lock.text.isEmpty() ? PortLock::Empty : PortLock::NoProcess);
    }
    if (pid > 0 && Running(pid) && !NumberReused(pid, lines.value(1))) {
        lock.state = PortLock::Held;
        lock.pid = pid;
        lock.self = pid == QCoreApplication::applicationPid();
        lock.owner = CommandName(pid);
        return lock;
    }
    // Its owner is gone, or never was: clear it away, as every program that
    // writes such locks does.
    switch (RemoveLockFile(lock.path, look)) {
    case Removal::Done:
    case Removal::Changed: // another program's file now: the next look judges it
        break;
    case Removal::Refused:
        lock.state = PortLock::Stuck;
        lock.why = ErrorText(errno);
        break;
    }
    return lock;
}

} // namespace

PortLock LockPort(const QString &device)
{
    PortLock lock;
    const QString name = LockFileName(device);
    if (QFile::encodeName(name).size() > NAME_MAX) {
        lock.state = PortLock::NameTooLong;
        lock.path = name;
        return lock;
    }
    const QString folder = LockFolder();
    if (folder.isEmpty())
        return lock; // a system without a lock folder: the exclusive open is all
    lock.path = folder + QLatin1Char('/') + name;
    // Each round either ends, or clears away a stale lock; one that another
    // program keeps planting anew is given up on after a few.
    for (int round = 0; round < 4; ++round) {
        LockFileLook look = LookAtLockFile(lock.path);
        if (look.shape == LockFileLook::Absent) {
            switch (CreateLockFile(folder, lock.path, &look)) {
            case Creation::Created:
                lock.taken = true;
                lock.mine = true;
                lock.device = look.device;
                lock.inode = look.inode;
                return lock;
            case Creation::Exists:
                continue; // someone was quicker: look at what they put there
            case Creation::Refused:
                // A folder this user may not write: other programs cannot
                // lock here either, and the exclusive open still keeps them
                // out while the port is open.
                return lock;
            }
        }
        lock = Judge(lock, look);
        if (lock.state != PortLock::Free)
            return lock;
    }
    return Unfit(lock, PortLock::Changing);
}

void UnlockPort(const PortLock &lock)
{
    if (!lock.taken)
        return;
    LockFileLook own;
    own.device = dev_t(lock.device);
    own.inode = ino_t(lock.inode);
    RemoveLockFile(lock.path, own);
}
