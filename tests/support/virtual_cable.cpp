#include "virtual_cable.h"

#include "port_advice.h"
#include "port_facts.h"
#include "serial_port.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

PtyEnd::PtyEnd()
{
    char name[256] = {};
    termios raw = {};
    cfmakeraw(&raw);
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    device_ = QString::fromLocal8Bit(name);
    // A pseudo-terminal just made is nobody's: a lock for its name was left
    // by a run cut short, and would fail every later test that gets it.
    if (!QDir().rmdir(LockPath(device_)))
        QFile::remove(LockPath(device_));
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    // A program the test starts must not hold the cable too: it would keep
    // the line up after HangUp.
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
}

PtyEnd::~PtyEnd()
{
    HangUp();
    if (slave_ >= 0)
        ::close(slave_);
}

void PtyEnd::HangUp()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

void PtyEnd::Write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else
            QTest::qWait(1); // the line is full: let the reader drain it
    }
}

void PtyEnd::FillLine(char filler)
{
    // Through the device's side the test holds, which no one reads from.
    ::fcntl(slave_, F_SETFL, ::fcntl(slave_, F_GETFL) | O_NONBLOCK);
    const QByteArray bytes(4096, filler);
    for (;;) {
        qsizetype taken = 0;
        ssize_t n;
        while ((n = ::write(slave_, bytes.constData(), size_t(bytes.size()))) > 0)
            taken += n;
        if (taken == 0)
            return;
        // The kernel passes what it took on a moment later, which makes
        // room again: full is when, a moment later, it still takes nothing.
        ::usleep(10000);
    }
}

QByteArray PtyEnd::Read(qsizetype count, int ms)
{
    QByteArray out;
    QDeadlineTimer deadline(ms);
    char buffer[4096];
    while (out.size() < count && !deadline.hasExpired()) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0)
            out.append(buffer, n);
        else
            QTest::qWait(1);
    }
    return out;
}

QByteArray PtyEnd::Drain(int ms)
{
    QTest::qWait(ms);
    QByteArray out;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(master_, buffer, sizeof buffer)) > 0)
        out.append(buffer, n);
    return out;
}

Bridge::Bridge(PtyEnd &from, PtyEnd &to, LineFault fault)
    : to_(to), fault_(std::move(fault)),
      notifier_(std::make_unique<QSocketNotifier>(from.FarSide(), QSocketNotifier::Read))
{
    const int fd = from.FarSide();
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this, fd] {
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            QByteArray out(buffer, n);
            if (fault_) {
                out.clear();
                for (ssize_t i = 0; i < n; ++i)
                    out += fault_(carried_++, buffer[i]);
            }
            to_.Write(out);
        } else if (n == 0 || errno != EAGAIN) {
            notifier_->setEnabled(false);
        }
    });
}

void Bridge::Stall(int ms)
{
    notifier_->setEnabled(false);
    QTimer::singleShot(ms, this, [this] { notifier_->setEnabled(true); });
}

ComLinks::ComLinks()
    : saved_(qgetenv("XDG_CONFIG_HOME")), hadSaved_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"))
{
    QDir().mkpath(Folder());
    qputenv("XDG_CONFIG_HOME", home_.path().toLocal8Bit());
}

ComLinks::~ComLinks()
{
    if (hadSaved_)
        qputenv("XDG_CONFIG_HOME", saved_);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

QString ComLinks::Folder() const
{
    return home_.path() + QStringLiteral("/comloop");
}

void ComLinks::Map(int number, const QString &target)
{
    const QString link = Folder() + QStringLiteral("/com%1").arg(number);
    QFile::remove(link);
    if (!QFile::link(target, link))
        throw std::runtime_error("cannot make the COM link");
}

QString LockPath(const QString &device)
{
    // Named as the program names it: Debian's /var/lock is a link to /run/lock.
    return QDir(QStringLiteral("/var/lock")).canonicalPath() + QStringLiteral("/LCK..")
        + device.mid(5).replace(QLatin1Char('/'), QLatin1Char('_'));
}

QString FailureText(const TCommPort &port)
{
    return FailureHint(LookUpFailure(port), QDir::homePath());
}

double ProcessCpuMs()
{
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

qint64 StatusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field))).simplified().split(' ').value(0).toLongLong();
    return 0;
}

bool WaitFor(const std::function<bool()> &done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(1);
    }
    return true;
}
