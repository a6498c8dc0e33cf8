#include "port_lock.h"

#include "lock_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

#include <unistd.h>

namespace {

// The name every UUCP-style program derives from the device: what follows
// /dev/, with slashes made underscores, as QSerialPort does too.
QString LockFileName(const QString &device)
{
    QString name = device.startsWith(QStringLiteral("/dev/")) ? device.mid(5) : device;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("LCK..") + name;
}

// The folder QSerialPort (Qt 6) puts the lock in: the first of these that
// can be read and either holds the lock already or can take a new one. It
// is named as it really is: Debian's /var/lock is a link to /run/lock.
QString LockFolder(const QString &fileName)
{
    static const char *const folders[] = {"/var/lock",  "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                                          "/tmp",       "/var/tmp",   "/var/lock/lockdev", "/run/lock"};
    for (const char *folder : folders) {
        const QByteArray file = QByteArray(folder) + '/' + QFile::encodeName(fileName);
        if (::access(folder, R_OK) == 0 && (::access(file.constData(), F_OK) == 0 || ::access(folder, W_OK) == 0))
            return QDir(QString::fromLatin1(folder)).canonicalPath();
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
// "%10d minicom user\n" and QSerialPort's "pid\nprogram\nhost\n..." all
// begin with it. 0: no number at all; -1: a number no process can have.
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

// QSerialPort's lock names its program on the second line; a process of
// another name under that number took the number over after the owner
// ended, and QSerialPort itself takes such a lock for stale.
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

// What a plain text file in the lock's place says, and what it leaves.
PortLock Judge(PortLock lock, const LockFileLook &look)
{
    const QList<QByteArray> lines = look.text.split('\n');
    const qint64 pid = NamedPid(lines.value(0));
    if (pid == 0) {
        // Shown as it is, but printable and short.
        QString shown = QString::fromLatin1(lines.value(0).trimmed().left(40));
        shown.replace(QRegularExpression(QStringLiteral("[^ -~]")), QStringLiteral("?"));
        lock.state = PortLock::Unfit;
        lock.fault = shown.isEmpty() ? QStringLiteral("empty")
                                     : QStringLiteral("text that names no process (\"%1\")").arg(shown);
        return lock;
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
        break;
    case Removal::Changed:
        lock.state = PortLock::Unfit;
        lock.fault = QStringLiteral("changing while it is read");
        break;
    case Removal::Refused:
        lock.state = PortLock::Stuck;
        lock.fault = QString::fromLocal8Bit(std::strerror(errno));
        break;
    }
    return lock;
}

} // namespace

PortLock CheckLock(const QString &device)
{
    PortLock lock;
    const QString name = LockFileName(device);
    if (QFile::encodeName(name).size() > NAME_MAX) {
        lock.state = PortLock::NameTooLong;
        lock.path = name;
        return lock;
    }
    const QString folder = LockFolder(name);
    if (folder.isEmpty())
        return lock; // nowhere to lock: QSerialPort says so itself
    lock.path = folder + QLatin1Char('/') + name;
    const LockFileLook look = LookAtLockFile(lock.path);
    lock.mine = look.mine;
    lock.directory = look.directory;
    switch (look.shape) {
    case LockFileLook::Absent:
        return lock;
    case LockFileLook::Unfit:
        lock.state = PortLock::Unfit;
        lock.fault = look.fault;
        return lock;
    case LockFileLook::Text:
        break;
    }
    return Judge(lock, look);
}

QString LockReason(const QString &device, const PortLock &lock)
{
    switch (lock.state) {
    case PortLock::Free:
        break;
    case PortLock::Held: {
        const QString owner = lock.owner.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(lock.owner);
        return QStringLiteral("%1 is locked by process %2%3 through %4")
            .arg(device, QString::number(lock.pid), owner, lock.path);
    }
    case PortLock::Unfit:
        return QStringLiteral("The lock file %1 is %2").arg(lock.path, lock.fault);
    case PortLock::Stuck:
        return QStringLiteral("The lock file %1 is stale, but cannot be removed (%2)").arg(lock.path, lock.fault);
    case PortLock::NameTooLong:
        return QStringLiteral("The lock file for %1 would be named with %2 bytes, and a file name holds at most %3")
            .arg(device)
            .arg(QFile::encodeName(lock.path).size())
            .arg(NAME_MAX);
    }
    return {};
}
