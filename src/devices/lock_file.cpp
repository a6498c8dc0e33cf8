#include "lock_file.h"

#include <QFile>
#include <QLocale>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString SystemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString LinkTarget(const QByteArray &path)
{
    char target[4096];
    const ssize_t size = ::readlink(path.constData(), target, sizeof target);
    return size > 0 ? QString::fromLocal8Bit(target, qsizetype(size)) : QStringLiteral("an unreadable target");
}

// Marks `look` unfit unless `st` is a plain file of a lock's size; `path`
// names a link's target.
bool Fits(const struct stat &st, const QByteArray &path, LockFileLook &look)
{
    look.directory = S_ISDIR(st.st_mode);
    look.mine = ::geteuid() == 0 || st.st_uid == ::geteuid();
    look.device = st.st_dev;
    look.inode = st.st_ino;
    look.shape = LockFileLook::Unfit;
    switch (st.st_mode & S_IFMT) {
    case S_IFREG:
        if (st.st_size <= LockFileCap) {
            look.shape = LockFileLook::Text;
            return true;
        }
        look.fault = QStringLiteral("%1 long, where a lock holds a few bytes")
                         .arg(QLocale::c().formattedDataSize(st.st_size, 0));
        break;
    case S_IFIFO:
        look.fault = QStringLiteral("a named pipe");
        break;
    case S_IFDIR:
        look.fault = QStringLiteral("a directory");
        break;
    case S_IFLNK:
        look.fault = QStringLiteral("a symbolic link to %1").arg(LinkTarget(path));
        break;
    case S_IFSOCK:
        look.fault = QStringLiteral("a socket");
        break;
    default:
        look.fault = QStringLiteral("a device node");
        break;
    }
    return false;
}

LockFileLook Unreadable(int error, LockFileLook look = {})
{
    look.shape = LockFileLook::Unfit;
    look.fault = QStringLiteral("unreadable (%1)").arg(SystemError(error));
    return look;
}

} // namespace

LockFileLook LookAtLockFile(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    LockFileLook look;
    struct stat st = {};
    if (::lstat(name.constData(), &st) != 0)
        return errno == ENOENT ? look : Unreadable(errno);
    // Nothing but a plain file is ever opened: opening a device can have
    // effects of its own, and a pipe or a link could be made to never end.
    if (!Fits(st, name, look))
        return look;

    // The path may have been swapped since the look above: the open follows
    // no link and waits for no writer, and what it opened is checked again.
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? LockFileLook() : Unreadable(errno, look);
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return Unreadable(error, look);
    }
    if (Fits(st, name, look)) {
        look.text.resize(LockFileCap);
        qsizetype got = 0;
        while (got < LockFileCap) {
            const ssize_t n = ::read(fd, look.text.data() + got, size_t(LockFileCap - got));
            if (n > 0)
                got += n;
            else if (n == 0 || errno != EINTR)
                break;
        }
        look.text.truncate(got);
    }
    ::close(fd);
    return look;
}

Removal RemoveLockFile(const QString &path, const LockFileLook &seen)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st = {};
    if (::lstat(name.constData(), &st) != 0)
        return errno == ENOENT ? Removal::Done : Removal::Refused;
    if (st.st_dev != seen.device || st.st_ino != seen.inode)
        return Removal::Changed;
    if (::unlink(name.constData()) == 0 || errno == ENOENT)
        return Removal::Done;
    return Removal::Refused;
}
