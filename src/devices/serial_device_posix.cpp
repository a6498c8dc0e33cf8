#include "serial_device.h"

#include "line_rate_linux.h"
#include "system_error_posix.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSocketNotifier>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

struct TSerialDevice::Line
{
    QByteArray path;
    int fd = -1;
    dev_t node = 0;   // the device number opened, to tell it from a newcomer at the same path
    termios found{};  // the settings it had, put back on close
    int foundRate = 0; // and its rate, which termios holds only when standard
    LineSettings wanted;
    bool looped = false; // found sending to itself, and turned back to the line
    QSocketNotifier *reads = nullptr;
    QSocketNotifier *writes = nullptr;
};

// The UART's own loopback, as Linux's serial core takes it through
// TIOCMSET; glibc's headers leave it out.
#ifndef TIOCM_LOOP
#define TIOCM_LOOP 0x8000
#endif

namespace {

const std::pair<int, speed_t> kSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},         {134, B134},         {150, B150},
    {200, B200},       {300, B300},       {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}};

speed_t Speed(int baud)
{
    for (const auto &[rate, speed] : kSpeeds)
        if (rate == baud)
            return speed;
    return B0;
}

int DataBits(tcflag_t size)
{
    switch (size) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    }
    return 8;
}

// Between ModemLine and the driver's TIOCM bits.
constexpr std::pair<unsigned, int> kLines[] = {{Rts, TIOCM_RTS}, {Dtr, TIOCM_DTR}, {Cts, TIOCM_CTS},
                                               {Dsr, TIOCM_DSR}, {Dcd, TIOCM_CAR}, {Ring, TIOCM_RNG},
                                               {Loop, TIOCM_LOOP}};

tcflag_t CharacterSize(int bits)
{
    switch (bits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    case 8:
        return CS8;
    }
    return 0;
}

// The device's own settings with the line made raw: every byte passes as it
// is, nothing is echoed, no character stops or signals anything, and reads
// wait for at least one byte, so that a read that finds nothing says so
// (EAGAIN) rather than returning 0, which is kept for a hung-up line. A
// rate the table of standard rates does not hold is left to SetAnyRate.
bool Raw(termios &line, const LineSettings &wanted)
{
    const tcflag_t size = CharacterSize(wanted.dataBits);
    if (size == 0 || wanted.baud <= 0 || (wanted.stopBits != 1 && wanted.stopBits != 2))
        return false;
    ::cfmakeraw(&line);
    line.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
    // Mark and space parity too, and an input rate apart from the output's,
    // which a program before may have left.
    line.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CIBAUD);
    line.c_cflag |= size | CLOCAL | CREAD;
    if (wanted.parity != Parity::None) {
        line.c_cflag |= PARENB | (wanted.parity == Parity::Odd ? PARODD : 0);
        // A byte that fails its parity comes as a zero byte, so it is never
        // taken for the byte that was sent.
        line.c_iflag |= INPCK;
    }
    if (wanted.stopBits == 2)
        line.c_cflag |= CSTOPB;
    if (wanted.flow == Flow::RtsCts)
        line.c_cflag |= CRTSCTS;
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    const speed_t speed = Speed(wanted.baud);
    return speed == B0 || (::cfsetispeed(&line, speed) == 0 && ::cfsetospeed(&line, speed) == 0);
}

} // namespace

TSerialDevice *TSerialDevice::Open(const QString &path, const LineSettings &wanted, QObject *owner,
                                   PortFailure *failure)
{
    auto line = std::make_unique<Line>();
    line->path = QFile::encodeName(path);
    line->wanted = wanted;
    // Not the controlling terminal of this process, whatever it is, and no
    // waiting for a carrier.
    line->fd = ::open(line->path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line->fd < 0) {
        *failure = FailureOf(PortFailure::Open, errno);
        return nullptr;
    }
    bool exclusive = false;
    const auto fail = [&](int error) -> TSerialDevice * {
        if (exclusive)
            ::ioctl(line->fd, TIOCNXCL);
        ::close(line->fd);
        *failure = FailureOf(PortFailure::Setup, error);
        return nullptr;
    };
    struct stat st = {};
    if (::fstat(line->fd, &st) != 0)
        return fail(errno);
    // TIOCEXCL keeps every other opener out (but root) while the port is
    // open; a device that refuses it is no terminal at all.
    if (::ioctl(line->fd, TIOCEXCL) != 0)
        return fail(errno);
    exclusive = true;
    if (::tcgetattr(line->fd, &line->found) != 0)
        return fail(errno);
    line->foundRate = LineRate(line->fd);
    termios raw = line->found;
    if (!Raw(raw, wanted))
        return fail(EINVAL);
    if (::tcsetattr(line->fd, TCSANOW, &raw) != 0)
        return fail(errno);
    if (Speed(wanted.baud) == B0 && !SetAnyRate(line->fd, wanted.baud))
        return fail(errno);
    // A program killed in its loopback test leaves the UART sending to
    // itself, and every frame would stay inside it. Not put back on close:
    // it was never anyone's setting. A driver with no handshake lines (a
    // pseudo-terminal) has no loopback either.
    int modem = 0;
    line->looped = ::ioctl(line->fd, TIOCMGET, &modem) == 0 && (modem & TIOCM_LOOP) != 0;
    if (line->looped) {
        const int loop = TIOCM_LOOP;
        if (::ioctl(line->fd, TIOCMBIC, &loop) != 0)
            return fail(errno);
    }
    line->node = st.st_rdev;
    // Whatever the line carried before the open belongs to nobody.
    ::tcflush(line->fd, TCIFLUSH);
    return new TSerialDevice(std::move(line), owner);
}

TSerialDevice::TSerialDevice(std::unique_ptr<Line> line, QObject *owner) : QObject(owner), line_(std::move(line))
{
    line_->reads = new QSocketNotifier(line_->fd, QSocketNotifier::Read, this);
    line_->writes = new QSocketNotifier(line_->fd, QSocketNotifier::Write, this);
    line_->writes->setEnabled(false);
    connect(line_->reads, &QSocketNotifier::activated, this, &TSerialDevice::Readable);
    connect(line_->writes, &QSocketNotifier::activated, this, &TSerialDevice::Writable);
}

TSerialDevice::~TSerialDevice()
{
    Close();
}

bool TSerialDevice::NodeGone() const
{
    struct stat st = {};
    return ::stat(line_->path.constData(), &st) != 0 || st.st_rdev != line_->node;
}

bool TSerialDevice::HungUp()
{
    // Asked for no event at all: a hang-up is told whatever is asked for.
    pollfd line = {line_->fd, 0, 0};
    if (line_->fd < 0 || ::poll(&line, 1, 0) != 1 || (line.revents & (POLLHUP | POLLERR)) == 0)
        return false;
    Failed(FailureOf(PortFailure::Read, 0));
    return true;
}

bool TSerialDevice::LoopbackWasOn() const
{
    return line_->looped;
}

qint64 TSerialDevice::Read(char *into, qint64 size)
{
    if (line_->fd < 0)
        return 0;
    const ssize_t n = ::read(line_->fd, into, size_t(size));
    if (n > 0)
        return n;
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return 0;
    // End of file is how a terminal says it was hung up: a USB adapter
    // pulled out, whose reads then end at once and for ever.
    return Failed(FailureOf(PortFailure::Read, n == 0 ? 0 : errno));
}

qint64 TSerialDevice::Write(const char *from, qint64 size)
{
    if (line_->fd < 0)
        return 0;
    const ssize_t n = ::write(line_->fd, from, size_t(size));
    if (n >= 0)
        return n;
    if (errno == EAGAIN || errno == EINTR)
        return 0;
    return Failed(FailureOf(PortFailure::Write, errno));
}

qint64 TSerialDevice::Unsent()
{
    int waiting = 0;
    if (line_->fd < 0)
        return 0;
    if (::ioctl(line_->fd, TIOCOUTQ, &waiting) != 0)
        return Failed(FailureOf(PortFailure::Control, errno));
    return waiting;
}

LineSettings TSerialDevice::Taken()
{
    termios line{};
    if (line_->fd < 0 || ::tcgetattr(line_->fd, &line) != 0)
        return {.baud = 0, .dataBits = 0};
    const tcflag_t flags = line.c_cflag;
    return {LineRate(line_->fd), DataBits(flags & CSIZE),
            !(flags & PARENB) ? Parity::None : (flags & PARODD) ? Parity::Odd : Parity::Even,
            (flags & CSTOPB) ? 2 : 1, (flags & CRTSCTS) ? Flow::RtsCts : Flow::None};
}

std::optional<LineCounters> TSerialDevice::Counters()
{
    serial_icounter_struct counted = {};
    if (line_->fd < 0 || ::ioctl(line_->fd, TIOCGICOUNT, &counted) != 0)
        return std::nullopt;
    return LineCounters{counted.frame, counted.parity, counted.overrun, counted.buf_overrun, counted.brk,
                        counted.cts,   counted.dsr,    counted.dcd,     counted.rng};
}

std::optional<unsigned> TSerialDevice::ModemLines()
{
    int bits = 0;
    if (line_->fd < 0 || ::ioctl(line_->fd, TIOCMGET, &bits) != 0)
        return std::nullopt;
    unsigned lines = 0;
    for (const auto &[line, bit] : kLines)
        if (bits & bit)
            lines |= line;
    return lines;
}

bool TSerialDevice::SetModemLines(unsigned lines, bool raised)
{
    int bits = 0;
    for (const auto &[line, bit] : kLines)
        if (lines & line)
            bits |= bit;
    return line_->fd >= 0 && ::ioctl(line_->fd, raised ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

void TSerialDevice::WatchReads(bool watch)
{
    if (line_->fd >= 0)
        line_->reads->setEnabled(watch);
}

void TSerialDevice::WatchWrites(bool watch)
{
    if (line_->fd >= 0)
        line_->writes->setEnabled(watch);
}

void TSerialDevice::Close()
{
    if (line_->fd < 0)
        return;
    WatchReads(false);
    WatchWrites(false);
    // A frame written just before the close goes out at the rate it was
    // written for, not at whatever rate the settings put back would give
    // it: what waits is given the time the line needs for it and a little
    // more, but never more than a second.
    qint64 unsent = Unsent();
    if (unsent > 0) {
        const qint64 bits = unsent * line_->wanted.BitsPerByte();
        const qint64 ms = std::min<qint64>(bits * 1000 / std::max(line_->wanted.baud, 1) + 50, 1000);
        QDeadlineTimer deadline(ms);
        while ((unsent = Unsent()) > 0 && !deadline.hasExpired())
            QThread::msleep(1);
    }
    // Whatever still waits cannot go out; closing would wait for it.
    if (unsent != 0)
        ::tcflush(line_->fd, TCOFLUSH);
    ::tcsetattr(line_->fd, TCSANOW, &line_->found);
    if (line_->foundRate > 0 && LineRate(line_->fd) != line_->foundRate)
        SetAnyRate(line_->fd, line_->foundRate);
    // A pseudo-terminal outlives this descriptor while its far side is
    // open, and would stay closed to everyone else but root.
    ::ioctl(line_->fd, TIOCNXCL);
    ::close(line_->fd);
    line_->fd = -1;
}
