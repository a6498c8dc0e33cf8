#include "port_lock.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <csignal>

namespace {

// The name every UUCP-style program derives from the device: what follows
// /dev/, with slashes made underscores, as Qt does too.
QString LockPath(const QString &device)
{
    QString name = device.startsWith(QStringLiteral("/dev/")) ? device.mid(5) : device;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("/var/lock/LCK..") + name;
}

bool Running(qint64 pid)
{
    // EPERM: it exists, it just belongs to someone else.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

} // namespace

LockOwner ForeignLockOwner(const QString &device)
{
    QFile lock(LockPath(device));
    if (!lock.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> lines = lock.read(4096).split('\n');
    // Qt's own lock names its program on the second line, and Qt itself
    // judges those well: the owner must still run under that name.
    if (lines.size() > 1 && !lines[1].trimmed().isEmpty())
        return {};
    // "%10d\n" (UUCP), "%d" (socat) or "%10d minicom user\n" (minicom).
    bool ok = false;
    const qint64 pid = lines[0].simplified().split(' ').value(0).toLongLong(&ok);
    if (!ok || pid <= 0 || pid == QCoreApplication::applicationPid() || !Running(pid))
        return {};
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    const QString name = comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll().trimmed()) : QString();
    return {pid, name};
}
