#include "lock_file_posix.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString LinkTarget(const QByteArray &path)
{
    char target[4096];
    const ssize_t size = ::readlink(path.constData(), target, sizeof target);
    return size > 0 ? QString::fromLocal8Bit(target, qsizetype(size)) : QString();
}

// Marks `look` unfit unless `st` is a plain file of a lock's size; `path`
// names a link's target.
bool Fits(const struct stat &st, const QByteArray &path, LockFileLook &look)
{
    look.mine = ::geteuid() == 0 || st.st_uid == ::geteuid();
    look.device = st.st_dev;
    look.inode = st.st_ino;
    switch (st.st_mode & S_IFMT) {
    case S_IFREG:
        if (st.st_size <= LockFileCap) {
            look.shape = LockFileLook::Text;
            return true;
        }
        look.shape = LockFileLook::Huge;
        look.size = st.st_size;
        return false;
    case S_IFIFO:
        look.shape = LockFileLook::Pipe;
        return false;
    case S_IFDIR:
        look.shape = LockFileLook::Directory;
        return false;
    case S_IFLNK:
        look.shape = LockFileLook::Link;
        look.target = LinkTarget(path);
        return false;
    case S_IFSOCK:
        look.shape = LockFileLook::Socket;
        return false;
    default:
        look.shape = LockFileLook::Node;
        return false;
    }
}

LockFileLook Unreadable(int error, LockFileLook look = {})
{
    look.shape = LockFileLook::Unreadable;
    look.error = error;
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

namespace {

bool WriteAll(int fd, const QByteArray &text)
{
    qsizetype done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.constData() + done, size_t(text.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno != EINTR)
            return false;
    }
    return true;
}

} // namespace

Creation CreateLockFile(const QString &folder, const QString &path, LockFileLook *made)
{
    // The process number as UUCP wrote it, and as every program that honours
    // such locks reads it: ten characters, right-aligned, and a newline.
    const QByteArray text = QByteArray::number(qint64(::getpid())).rightJustified(10, ' ') + '\n';
    // mkostemp creates exclusively under a name nobody can guess, so nothing
    // planted in the folder can stand in for this file.
    QByteArray temporary = QFile::encodeName(folder) + "/LTMP.comloop.XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return Creation::Refused;
    struct stat st = {};
    const bool written = ::fchmod(fd, 0644) == 0 && WriteAll(fd, text) && ::fstat(fd, &st) == 0;
    const int writeError = errno;
    ::close(fd);
    if (!written) {
        ::unlink(temporary.constData());
        errno = writeError;
        return Creation::Refused;
    }
    // link() never follows or replaces what is at `path`: a lock, a pipe or a
    // link to a device that appeared since the look leaves it failing.
    const int linked = ::link(temporary.constData(), QFile::encodeName(path).constData());
    const int linkError = errno;
    ::unlink(temporary.constData());
    if (linked != 0) {
        errno = linkError;
        return linkError == EEXIST ? Creation::Exists : Creation::Refused;
    }
    made->shape = LockFileLook::Text;
    made->text = text;
    made->mine = true;
    made->device = st.st_dev;
    made->inode = st.st_ino;
    return Creation::Created;
}
