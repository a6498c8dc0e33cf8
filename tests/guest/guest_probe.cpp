// Runs inside the test guest, on the real serial drivers, and prints what it
// finds one fact a line ("name: value") for tst_guest to judge. "@@pull"
// and "@@plug" on a line of their own ask the host to pull the USB adapter
// out and to plug it back in.
//
//   guest_probe port N DEVICE      the port component on COM N, which the
//                                  built-in mapping leads to DEVICE
//   guest_probe open N             opens COM N once: "opened" or why not
//   guest_probe drain N FAR        COM N sends frames and closes while its
//                                  line is held for a moment; FAR, the far
//                                  end, says what reached it
//   guest_probe run [--pull DEVICE --after TEXT] [--plug] [--looped DEVICE]
//                   -- COMMAND...  runs COMMAND; pulls DEVICE once COMMAND
//                                  has printed TEXT, and times its end;
//                                  with DEVICE left looped meanwhile
//   guest_probe window MASTER SLAVE
//                                  the main window with COM3 on MASTER and
//                                  COM4 on SLAVE, MASTER pulled and plugged

#include "Unit1.h"
#include "frame.h"
#include "port_advice.h"
#include "port_facts.h"
#include "serial_port.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

// Linux's serial core takes these through TIOCMSET; glibc's headers leave
// them out.
#ifndef TIOCM_OUT2
#define TIOCM_OUT2 0x4000
#endif
#ifndef TIOCM_LOOP
#define TIOCM_LOOP 0x8000
#endif

namespace {

void Say(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

// Lets the event loop run until `done` holds or `ms` passed.
bool WaitFor(const std::function<bool()> &done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void Idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QString FirstLine(const QString &text)
{
    return text.section(QLatin1Char('\n'), 0, 0);
}

// Why the port failed, in the words a person is shown: their first line.
QString Reason(const TCommPort &port)
{
    return FirstLine(FailureHint(LookUpFailure(port), QDir::homePath()));
}

double CpuMs(const rusage &usage)
{
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

double OwnCpuMs()
{
    rusage usage = {};
    ::getrusage(RUSAGE_SELF, &usage);
    return CpuMs(usage);
}

// CPU time a running child has used so far, from /proc, in clock ticks.
double ChildCpuMs(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    // utime and stime: fields 14 and 15 of the line, counted from the pid.
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble();
    return ticks * 1000.0 / double(::sysconf(_SC_CLK_TCK));
}

QString Locks()
{
    const QStringList held =
        QDir(QStringLiteral("/run/lock")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    return held.isEmpty() ? QStringLiteral("none") : held.join(QStringLiteral(", "));
}

// The USB serial node that appears, as a re-plugged adapter's does.
QString AwaitAdapter(int ms)
{
    QString node;
    WaitFor(
        [&] {
            node = QDir(QStringLiteral("/dev")).entryList({QStringLiteral("ttyUSB*")}, QDir::System).value(0);
            return !node.isEmpty();
        },
        ms);
    return node.isEmpty() ? QStringLiteral("nothing within %1 s").arg(ms / 1000) : QStringLiteral("/dev/") + node;
}

// What the driver holds for the line, in the words of a port's settings.
QStringList LineFacts(const termios &line)
{
    const speed_t in = cfgetispeed(&line);
    const speed_t out = cfgetospeed(&line);
    const int bits[] = {5, 6, 7, 8};
    const char parity = !(line.c_cflag & PARENB) ? 'N' : (line.c_cflag & PARODD) ? 'O' : 'E';
    QStringList flow;
    if (line.c_cflag & CRTSCTS)
        flow << QStringLiteral("crtscts");
    if (line.c_iflag & IXON)
        flow << QStringLiteral("ixon");
    if (line.c_iflag & IXOFF)
        flow << QStringLiteral("ixoff");
    // What cfmakeraw clears: the terminal's own handling of the bytes.
    const struct
    {
        tcflag_t flags;
        tcflag_t flag;
        const char *name;
    } cooked[] = {{line.c_lflag, ICANON, "icanon"}, {line.c_lflag, ECHO, "echo"},   {line.c_lflag, ECHONL, "echonl"},
                  {line.c_lflag, ISIG, "isig"},     {line.c_lflag, IEXTEN, "iexten"}, {line.c_oflag, OPOST, "opost"},
                  {line.c_iflag, ICRNL, "icrnl"},   {line.c_iflag, INLCR, "inlcr"},   {line.c_iflag, IGNCR, "igncr"},
                  {line.c_iflag, ISTRIP, "istrip"}, {line.c_iflag, BRKINT, "brkint"}, {line.c_iflag, PARMRK, "parmrk"}};
    QStringList notRaw;
    for (const auto &flag : cooked)
        if (flag.flags & flag.flag)
            notRaw << QLatin1String(flag.name);
    const auto baud = [](speed_t speed) {
        switch (speed) {
        case B9600:
            return QStringLiteral("9600");
        case B115200:
            return QStringLiteral("115200");
        default:
            return QStringLiteral("code %1").arg(speed);
        }
    };
    return {in == out ? QStringLiteral("speed: %1").arg(baud(in))
                      : QStringLiteral("speed: in %1, out %2").arg(baud(in), baud(out)),
            QStringLiteral("frame: %1%2%3")
                .arg(bits[(line.c_cflag & CSIZE) >> 4])
                .arg(QLatin1Char(parity))
                .arg(line.c_cflag & CSTOPB ? 2 : 1),
            QStringLiteral("flow: %1").arg(flow.isEmpty() ? QStringLiteral("none") : flow.join(QLatin1Char(' '))),
            QStringLiteral("raw: %1").arg(notRaw.isEmpty() ? QStringLiteral("yes")
                                                          : QStringLiteral("no, ") + notRaw.join(QLatin1Char(' ')))};
}

// The port component on COM `number`: its device, the line the driver
// holds while it is open, its lock and what a second opener is told, and
// whether closing puts back the line it found.
int Port(int number, const QString &device)
{
    Say(QStringLiteral("pid: %1").arg(::getpid()));
    // A line nobody would choose, held open here all along so the driver
    // keeps it, and so it can be read beside the port.
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios before = {};
    if (fd < 0 || ::tcgetattr(fd, &before) != 0) {
        Say(QStringLiteral("cannot look at %1: %2").arg(device, QString::fromLocal8Bit(std::strerror(errno))));
        return 1;
    }
    before.c_cflag = (before.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
    before.c_iflag |= IXON | ICRNL;
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_oflag |= OPOST;
    cfsetspeed(&before, B115200);
    ::tcsetattr(fd, TCSANOW, &before);
    ::tcgetattr(fd, &before);
    Say(QStringLiteral("before: ") + LineFacts(before).join(QStringLiteral("; ")));

    TCommPort port(nullptr);
    port.SetComNumber(number);
    port.SetOpen(true);
    if (!port.GetOpen()) {
        Say(QStringLiteral("open: refused: ") + Reason(port));
        return 1;
    }
    Say(QStringLiteral("device: ") + port.GetDevice());
    termios open = {};
    ::tcgetattr(fd, &open);
    for (const QString &fact : LineFacts(open))
        Say(fact);

    QFile lock(QStringLiteral("/run/lock/LCK..") + device.section(QLatin1Char('/'), -1));
    if (lock.open(QIODevice::ReadOnly))
        Say(QStringLiteral("lock: %1 names process %2")
                .arg(lock.fileName())
                .arg(lock.readAll().simplified().split(' ').value(0).toLongLong()));
    else
        Say(QStringLiteral("lock: none at ") + lock.fileName());

    QProcess second;
    second.start(QCoreApplication::applicationFilePath(), {QStringLiteral("open"), QString::number(number)});
    second.waitForFinished(30000);
    Say(QStringLiteral("second opener: ") + QString::fromLocal8Bit(second.readAllStandardOutput()).trimmed());

    port.SetOpen(false);
    Say(QStringLiteral("lock after close: ")
        + (QFile::exists(lock.fileName()) ? lock.fileName() : QStringLiteral("none")));
    termios after = {};
    ::tcgetattr(fd, &after);
    const bool restored = after.c_iflag == before.c_iflag && after.c_oflag == before.c_oflag
        && after.c_cflag == before.c_cflag && after.c_lflag == before.c_lflag
        && cfgetispeed(&after) == cfgetispeed(&before) && cfgetospeed(&after) == cfgetospeed(&before);
    Say(QStringLiteral("restored: ")
        + (restored ? QStringLiteral("yes") : QStringLiteral("no, ") + LineFacts(after).join(QStringLiteral("; "))));
    ::close(fd);
    return 0;
}

// A UART as a program killed in its loopback test leaves it: sending to
// itself. Its OUT2 dropped too, which a looped UART reads back as its
// carrier, and CLOCAL off, so an open that waits for a carrier waits for
// good. Held so while this lives, then put back.
class LeftLooped
{
public:
    explicit LeftLooped(const QString &device)
        : fd_(::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        if (fd_ < 0 || ::tcgetattr(fd_, &found_) != 0) {
            Say(QStringLiteral("cannot loop %1: %2").arg(device, QString::fromLocal8Bit(std::strerror(errno))));
            return;
        }
        termios line = found_;
        line.c_cflag &= ~tcflag_t(CLOCAL);
        ::tcsetattr(fd_, TCSANOW, &line);
        Modem(TIOCMBIS, TIOCM_LOOP);
        Modem(TIOCMBIC, TIOCM_OUT2);
        int lines = 0;
        ::ioctl(fd_, TIOCMGET, &lines);
        Say(QStringLiteral("left looped: %1, carrier %2")
                .arg(device, lines & TIOCM_CAR ? QStringLiteral("on") : QStringLiteral("off")));
    }
    ~LeftLooped()
    {
        if (fd_ < 0)
            return;
        Modem(TIOCMBIC, TIOCM_LOOP);
        Modem(TIOCMBIS, TIOCM_OUT2);
        ::tcsetattr(fd_, TCSANOW, &found_);
        ::close(fd_);
    }
    LeftLooped(const LeftLooped &) = delete;
    LeftLooped &operator=(const LeftLooped &) = delete;

private:
    void Modem(unsigned long request, int bits) { ::ioctl(fd_, request, &bits); }

    int fd_;
    termios found_ = {};
};

// COM `number` queues frames and closes at once, while its line is held
// still (as a far end's XOFF holds it) for a moment, so that they wait in
// the driver when the close begins: they must all reach `far`, the other
// end of the cable.
int Drain(int number, const QString &far)
{
    const int farEnd = ::open(QFile::encodeName(far).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios raw = {};
    if (farEnd < 0 || ::tcgetattr(farEnd, &raw) != 0) {
        Say(QStringLiteral("cannot open %1: %2").arg(far, QString::fromLocal8Bit(std::strerror(errno))));
        return 1;
    }
    ::cfmakeraw(&raw);
    ::cfsetspeed(&raw, B9600);
    ::tcsetattr(farEnd, TCSANOW, &raw);

    TCommPort port(nullptr);
    port.SetComNumber(number);
    port.SetOpen(true);
    if (!port.GetOpen()) {
        Say(QStringLiteral("open: refused: ") + Reason(port));
        return 1;
    }
    const int line = ::open(QFile::encodeName(port.GetDevice()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ::tcflow(line, TCOOFF);
    for (int value = 1; value <= 8; ++value)
        PutFrame(port, value);
    std::thread resume([line] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ::tcflow(line, TCOON);
    });
    port.SetOpen(false);
    resume.join();
    ::close(line);

    QByteArray got;
    WaitFor(
        [&] {
            char bytes[256];
            const ssize_t n = ::read(farEnd, bytes, sizeof bytes);
            got.append(bytes, n > 0 ? n : 0);
            return got.size() >= 8 * kFrameBytes;
        },
        2000);
    ::close(farEnd);
    Say(QStringLiteral("far end got: ") + QString::fromLatin1(got));
    return 0;
}

int Open(int number)
{
    TCommPort port(nullptr);
    port.SetComNumber(number);
    port.SetOpen(true);
    Say(port.GetOpen() ? QStringLiteral("opened") : QStringLiteral("refused: ") + Reason(port));
    return port.GetOpen() ? 0 : 1;
}

// Runs a command with its output passed on; when asked, has the host pull
// `pulled` out once the command said `after`, and times the command's end
// from that moment, with the CPU time it used once the node had gone.
int Run(const QStringList &arguments)
{
    QString pulled;
    QString after;
    QString looped;
    bool plug = false;
    qsizetype at = 0;
    for (; at < arguments.size() && arguments[at] != QStringLiteral("--"); ++at) {
        if (arguments[at] == QStringLiteral("--pull"))
            pulled = arguments.value(++at);
        else if (arguments[at] == QStringLiteral("--after"))
            after = arguments.value(++at);
        else if (arguments[at] == QStringLiteral("--plug"))
            plug = true;
        else if (arguments[at] == QStringLiteral("--looped"))
            looped = arguments.value(++at);
    }
    const QStringList command = arguments.mid(at + 1);
    if (command.isEmpty())
        return 2;
    std::unique_ptr<LeftLooped> left;
    if (!looped.isEmpty())
        left = std::make_unique<LeftLooped>(looped);

    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer clock;
    qint64 askedAt = -1;
    qint64 wentAt = -1;
    double cpuWhenWent = -1;
    QByteArray said;
    QFileSystemWatcher dev({QStringLiteral("/dev")});
    QObject::connect(&dev, &QFileSystemWatcher::directoryChanged, [&] {
        if (askedAt >= 0 && wentAt < 0 && !QFile::exists(pulled)) {
            wentAt = clock.elapsed();
            if (child.state() != QProcess::NotRunning)
                cpuWhenWent = ChildCpuMs(child.processId());
        }
    });
    bool pulling = false;
    QObject::connect(&child, &QProcess::readyRead, [&] {
        said += child.readAll();
        for (qsizetype end; (end = said.indexOf('\n')) >= 0; said.remove(0, end + 1)) {
            const QString line = QString::fromLocal8Bit(said.left(end));
            Say(line);
            if (!pulled.isEmpty() && !pulling && line.contains(after)) {
                pulling = true;
                // Once frames have had a while to cross.
                QTimer::singleShot(300, &child, [&] {
                    if (child.state() == QProcess::NotRunning)
                        return;
                    askedAt = clock.elapsed();
                    Say(QStringLiteral("@@pull"));
                });
            }
        }
    });
    clock.start();
    child.start(command.first(), command.mid(1));
    if (!child.waitForStarted()) {
        Say(QStringLiteral("cannot start %1").arg(command.first()));
        return 2;
    }
    if (!WaitFor([&] { return child.state() == QProcess::NotRunning; }, 60000)) {
        Say(QStringLiteral("still running after 60 s: killed"));
        child.kill();
        child.waitForFinished();
    }
    const qint64 endedAt = clock.elapsed();
    if (!said.isEmpty())
        Say(QString::fromLocal8Bit(said));
    Say(QStringLiteral("status: %1").arg(child.exitCode()));
    if (!pulled.isEmpty()) {
        if (askedAt < 0) {
            Say(QStringLiteral("ended before the pull"));
        } else {
            rusage children = {};
            ::getrusage(RUSAGE_CHILDREN, &children);
            // A command that ended before its node went used nothing after.
            const double cpuAfter = cpuWhenWent < 0 ? 0 : CpuMs(children) - cpuWhenWent;
            Say(wentAt < 0 ? QStringLiteral("node went: not while it ran")
                           : QStringLiteral("node went: %1 ms after the pull was asked").arg(wentAt - askedAt));
            Say(QStringLiteral("ended: %1 ms after the pull was asked").arg(endedAt - askedAt));
            Say(QStringLiteral("cpu after the node went: %1 ms").arg(cpuAfter, 0, 'f', 0));
        }
    }
    Say(QStringLiteral("locks: ") + Locks());
    if (plug) {
        Say(QStringLiteral("@@plug"));
        Say(QStringLiteral("came back as: ") + AwaitAdapter(30000));
    }
    return child.exitCode();
}

QString State(const TForm1 &form)
{
    return QStringLiteral("button %1; label1 %2; label2 %3; measure %4")
        .arg(form.Button1->text(), form.Label1->isHidden() ? QStringLiteral("hidden") : form.Label1->text(),
             form.Label2->isHidden() ? QStringLiteral("hidden") : form.Label2->text(),
             form.Button2->isEnabled() ? QStringLiteral("enabled") : QStringLiteral("disabled"));
}

// Measure with `value`: what the master side shows within 5 s.
QString Measure(TForm1 &form, int value)
{
    form.TData->SetValue(value);
    form.Button2->click();
    WaitFor([&] { return form.RData->text() == QString::number(value); }, 5000);
    return form.RData->text();
}

// The window as the user has it: COM3 on the adapter at `master`, COM4 on
// a UART, both open; the adapter pulled, then plugged back in, linked again
// under COM3, and opened with one press of Open Ports.
int PullUnderWindow(TForm1 &form, const QString &master, const QString &com3)
{
    form.Button1->click();
    Say(QStringLiteral("open: ") + State(form));
    Say(QStringLiteral("frame before: ") + Measure(form, 1000));

    QElapsedTimer clock;
    qint64 wentAt = -1;
    QFileSystemWatcher dev({QStringLiteral("/dev")});
    QObject::connect(&dev, &QFileSystemWatcher::directoryChanged, [&] {
        if (wentAt < 0 && !QFile::exists(master))
            wentAt = clock.elapsed();
    });
    clock.start();
    Say(QStringLiteral("@@pull"));
    const bool incomplete = WaitFor(
        [&] {
            return form.Button1->text() == QStringLiteral("Open Ports") && !form.Label1->isHidden()
                && !form.Button2->isEnabled();
        },
        20000);
    Say(incomplete ? QStringLiteral("incomplete: %1 ms after the pull was asked").arg(clock.elapsed())
                   : QStringLiteral("not incomplete 20 s after the pull was asked"));
    WaitFor([&] { return wentAt >= 0; }, 5000);
    Say(wentAt < 0 ? QStringLiteral("node went: not within 5 s")
                   : QStringLiteral("node went: %1 ms after the pull was asked").arg(wentAt));
    Say(QStringLiteral("after the pull: ") + State(form));
    Say(QStringLiteral("reason: ") + FirstLine(form.Label1->toolTip()));
    const double cpu = OwnCpuMs();
    QElapsedTimer idle;
    idle.start();
    Idle(2000);
    Say(QStringLiteral("cpu afterwards: %1 %").arg(100.0 * (OwnCpuMs() - cpu) / double(idle.elapsed()), 0, 'f', 1));

    Say(QStringLiteral("@@plug"));
    const QString node = AwaitAdapter(30000);
    Say(QStringLiteral("came back as: ") + node);
    QFile::remove(com3);
    QFile::link(node, com3);
    form.Button1->click();
    Say(QStringLiteral("reopened: ") + State(form));
    Say(QStringLiteral("frame after: ") + Measure(form, 2345));
    form.close();
    Say(QStringLiteral("locks after closing: ") + Locks());
    return 0;
}

int Window(const QString &master, const QString &slave)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    const QString folder = config.path() + QStringLiteral("/comloop");
    QDir().mkpath(folder);
    const QString com3 = folder + QStringLiteral("/com3");
    QFile::link(master, com3);
    QFile::link(slave, folder + QStringLiteral("/com4"));

    Application->Initialize();
    int status;
    {
        auto form = MakeForm<TForm1>();
        form->show();
        status = PullUnderWindow(*form, master, com3);
    }
    Application->Finalize();
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode == QStringLiteral("window") && argc == 4)
        return Window(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(2);
    if (mode == QStringLiteral("port") && arguments.size() == 2)
        return Port(arguments[0].toInt(), arguments[1]);
    if (mode == QStringLiteral("open") && arguments.size() == 1)
        return Open(arguments[0].toInt());
    if (mode == QStringLiteral("drain") && arguments.size() == 2)
        return Drain(arguments[0].toInt(), arguments[1]);
    if (mode == QStringLiteral("run"))
        return Run(arguments);
    std::fputs("usage: guest_probe port N DEVICE | open N | drain N FAR | run [--pull DEVICE --after TEXT] [--plug] "
               "[--looped DEVICE] -- COMMAND... | window MASTER SLAVE\n",
               stderr);
    return 2;
}
