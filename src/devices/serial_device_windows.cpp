#include "serial_device.h"

#include "system_error_windows.h"

#include <QDeadlineTimer>
#include <QThread>
#include <QWinEventNotifier>

#include <algorithm>
#include <utility>

#include <windows.h>

// Reads and writes are overlapped, so nothing waits on the device: one
// 1-byte read stays pending and says, when it completes, that bytes have
// come; what else is queued by then is read at once, as much as the
// driver says it holds. A write goes out as one overlapped request at a
// time, and says when it is done.
struct TSerialDevice::Line
{
    std::wstring path;
    bool listed = false;   // Windows listed its DOS name when it opened
    HANDLE handle = INVALID_HANDLE_VALUE;
    DCB found{};           // the settings it had, put back on close
    COMMTIMEOUTS foundTimeouts{};
    int baud = 0;

    OVERLAPPED reading{};
    OVERLAPPED draining{}; // the read of what is queued, waited for at once and so not watched
    char first = 0;        // the pending read's byte
    bool readPending = false;
    QByteArray got;        // read, not yet handed out
    DWORD readError = 0;   // the read that failed, ending the port

    OVERLAPPED writing{};
    QByteArray outgoing;   // the pending write's bytes
    bool writePending = false;
    DWORD writeError = 0;

    bool watchReads = true;
    bool watchWrites = false;
    QWinEventNotifier *readDone = nullptr;
    QWinEventNotifier *writeDone = nullptr;

    LineCounters counted;  // the error flags and line changes seen so far
    DWORD modem = 0;       // the input lines as last seen
    bool modemSeen = false;
    unsigned raised = Rts | Dtr; // the output lines, as the DCB opens them and SetModemLines leaves them

    TSerialDevice *device = nullptr;

    void ArmRead();
    void ReadDone();
    void WriteDone();
    // Readable, while watched, when bytes wait or the read failed.
    void Announce();
    void AnnounceSoon();
    // The driver's queues, with the error flags it has raised since the last
    // look counted.
    std::optional<COMSTAT> Status();
};

namespace {

DCB Raw(DCB line, const LineSettings &wanted)
{
    line.BaudRate = DWORD(wanted.baud);
    line.ByteSize = BYTE(wanted.dataBits);
    line.Parity = wanted.parity == Parity::Even ? EVENPARITY : wanted.parity == Parity::Odd ? ODDPARITY : NOPARITY;
    line.StopBits = wanted.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    line.fBinary = TRUE;
    line.fParity = wanted.parity != Parity::None;
    line.fOutxCtsFlow = wanted.flow == Flow::RtsCts;
    line.fOutxDsrFlow = FALSE;
    line.fDtrControl = DTR_CONTROL_ENABLE;
    line.fDsrSensitivity = FALSE;
    line.fTXContinueOnXoff = TRUE;
    line.fOutX = FALSE;
    line.fInX = FALSE;
    line.fErrorChar = FALSE;
    line.fNull = FALSE;
    line.fRtsControl = wanted.flow == Flow::RtsCts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    // An error on the line is counted, not made to stop every read and
    // write until someone clears it.
    line.fAbortOnError = FALSE;
    return line;
}

// Between ModemLine and the input lines GetCommModemStatus reports.
constexpr std::pair<unsigned, DWORD> kInputs[] = {
    {Cts, MS_CTS_ON}, {Dsr, MS_DSR_ON}, {Dcd, MS_RLSD_ON}, {Ring, MS_RING_ON}};

// Whether Windows lists the port's DOS name: "COM3" for "\\.\COM3".
bool Listed(const std::wstring &path)
{
    const std::wstring prefix = L"\\\\.\\";
    if (path.compare(0, prefix.size(), prefix) != 0)
        return false;
    wchar_t target[MAX_PATH];
    return ::QueryDosDeviceW(path.substr(prefix.size()).c_str(), target, MAX_PATH) != 0;
}

} // namespace

TSerialDevice *TSerialDevice::Open(const QString &path, const LineSettings &wanted, QObject *owner,
                                   PortFailure *failure)
{
    auto line = std::make_unique<Line>();
    line->path = path.toStdWString();
    line->baud = wanted.baud;
    // No share mode: no other program opens it while it is open here.
    line->handle = ::CreateFileW(line->path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED, nullptr);
    if (line->handle == INVALID_HANDLE_VALUE) {
        *failure = FailureOf(PortFailure::Open, ::GetLastError());
        return nullptr;
    }
    const auto fail = [&](DWORD error) -> TSerialDevice * {
        ::CloseHandle(line->handle);
        *failure = FailureOf(PortFailure::Setup, error);
        return nullptr;
    };
    line->found.DCBlength = sizeof(DCB);
    // A device that keeps no line settings is no serial port.
    if (!::GetCommState(line->handle, &line->found) || !::GetCommTimeouts(line->handle, &line->foundTimeouts))
        return fail(::GetLastError());
    if (wanted.baud <= 0 || wanted.dataBits < 5 || wanted.dataBits > 8)
        return fail(ERROR_INVALID_PARAMETER);
    DCB raw = Raw(line->found, wanted);
    if (!::SetCommState(line->handle, &raw))
        return fail(::GetLastError());
    // A read waits for all it asks for, and a write until it is out: the
    // pending 1-byte read is what waits for the line.
    COMMTIMEOUTS waitForAll{};
    if (!::SetCommTimeouts(line->handle, &waitForAll)) {
        const DWORD error = ::GetLastError();
        ::SetCommState(line->handle, &line->found);
        return fail(error);
    }
    // Whatever the line carried before the open belongs to nobody.
    ::PurgeComm(line->handle, PURGE_RXCLEAR);
    line->listed = Listed(line->path);
    line->reading.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    line->writing.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    line->draining.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return new TSerialDevice(std::move(line), owner);
}

TSerialDevice::TSerialDevice(std::unique_ptr<Line> line, QObject *owner) : QObject(owner), line_(std::move(line))
{
    Line *const line_p = line_.get();
    line_->device = this;
    line_->readDone = new QWinEventNotifier(line_->reading.hEvent, this);
    line_->writeDone = new QWinEventNotifier(line_->writing.hEvent, this);
    connect(line_->readDone, &QWinEventNotifier::activated, this, [line_p] { line_p->ReadDone(); });
    connect(line_->writeDone, &QWinEventNotifier::activated, this, [line_p] { line_p->WriteDone(); });
    line_->ArmRead();
}

TSerialDevice::~TSerialDevice()
{
    Close();
}

void TSerialDevice::Line::ArmRead()
{
    ::ResetEvent(reading.hEvent);
    // Completed at once or later, the event says so, and ReadDone takes it.
    if (::ReadFile(handle, &first, 1, nullptr, &reading)
        || ::GetLastError() == ERROR_IO_PENDING) {
        readPending = true;
        return;
    }
    readError = ::GetLastError();
    AnnounceSoon();
}

void TSerialDevice::Line::ReadDone()
{
    // The event stays set until reset, and would be told again and again.
    ::ResetEvent(reading.hEvent);
    DWORD n = 0;
    if (!readPending)
        return;
    if (!::GetOverlappedResult(handle, &reading, &n, FALSE)) {
        if (::GetLastError() == ERROR_IO_INCOMPLETE)
            return;
        readError = ::GetLastError();
    } else if (n == 1) {
        got.append(first);
    }
    readPending = false;
    if (n == 0 && !readError)
        ArmRead(); // nothing came: the driver gave up waiting, so wait again
    Announce();
}

void TSerialDevice::Line::Announce()
{
    if (watchReads && handle != INVALID_HANDLE_VALUE && (!got.isEmpty() || readError))
        emit device->Readable();
}

void TSerialDevice::Line::AnnounceSoon()
{
    QMetaObject::invokeMethod(device, [this] { Announce(); }, Qt::QueuedConnection);
}

void TSerialDevice::Line::WriteDone()
{
    ::ResetEvent(writing.hEvent);
    DWORD n = 0;
    if (!writePending)
        return;
    if (!::GetOverlappedResult(handle, &writing, &n, FALSE)) {
        if (::GetLastError() == ERROR_IO_INCOMPLETE)
            return;
        writeError = ::GetLastError();
    }
    writePending = false;
    outgoing.clear();
    if (watchWrites)
        emit device->Writable();
}

std::optional<COMSTAT> TSerialDevice::Line::Status()
{
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(handle, &errors, &status))
        return std::nullopt;
    counted.framing += (errors & CE_FRAME) != 0;
    counted.parity += (errors & CE_RXPARITY) != 0;
    counted.overrun += (errors & CE_OVERRUN) != 0;
    counted.bufferOverrun += (errors & CE_RXOVER) != 0;
    counted.breaks += (errors & CE_BREAK) != 0;
    return status;
}

bool TSerialDevice::NodeGone() const
{
    // A port Windows listed when it opened and no longer lists is gone;
    // one it never listed (a path, or a port Wine maps to a Unix device)
    // can only be told by its errors.
    return line_->listed && !Listed(line_->path) && ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool TSerialDevice::HungUp()
{
    // The pending read ends with an error when the device goes; one not yet
    // re-armed leaves only the line's status to ask, which fails the same.
    if (line_->handle == INVALID_HANDLE_VALUE)
        return false;
    if (!line_->readError && !line_->Status())
        line_->readError = ::GetLastError();
    if (!line_->readError)
        return false;
    Failed(FailureOf(PortFailure::Read, line_->readError));
    return true;
}

bool TSerialDevice::LoopbackWasOn() const
{
    // A Windows serial driver offers no loopback of its own to be left on.
    return false;
}

qint64 TSerialDevice::Read(char *into, qint64 size)
{
    if (line_->handle == INVALID_HANDLE_VALUE || size <= 0)
        return 0;
    if (line_->got.isEmpty() && line_->readError)
        return Failed(FailureOf(PortFailure::Read, line_->readError));
    qint64 done = std::min<qint64>(size, line_->got.size());
    std::copy_n(line_->got.constData(), done, into);
    line_->got.remove(0, done);
    if (line_->readPending || line_->readError)
        return done;
    // The byte that woke the read is seldom alone: what came with it is
    // queued, and taken now without waiting for anything more.
    const std::optional<COMSTAT> status = line_->Status();
    const qint64 queued = status ? std::min<qint64>(status->cbInQue, size - done) : 0;
    if (queued > 0) {
        DWORD n = 0;
        if (::ReadFile(line_->handle, into + done, DWORD(queued), nullptr, &line_->draining)
            || ::GetLastError() == ERROR_IO_PENDING) {
            if (::GetOverlappedResult(line_->handle, &line_->draining, &n, TRUE))
                done += n;
            else
                line_->readError = ::GetLastError();
        } else {
            line_->readError = ::GetLastError();
        }
    }
    if (!line_->readError)
        line_->ArmRead();
    if (done == 0 && line_->readError)
        return Failed(FailureOf(PortFailure::Read, line_->readError));
    // A failure after bytes came is told by the next read.
    if (line_->readError)
        line_->AnnounceSoon();
    return done;
}

qint64 TSerialDevice::Write(const char *from, qint64 size)
{
    if (line_->handle == INVALID_HANDLE_VALUE)
        return 0;
    if (line_->writeError)
        return Failed(FailureOf(PortFailure::Write, line_->writeError));
    if (line_->writePending || size <= 0)
        return 0;
    line_->outgoing = QByteArray(from, size);
    ::ResetEvent(line_->writing.hEvent);
    if (!::WriteFile(line_->handle, line_->outgoing.constData(), DWORD(size), nullptr, &line_->writing)
        && ::GetLastError() != ERROR_IO_PENDING) {
        line_->outgoing.clear();
        return Failed(FailureOf(PortFailure::Write, ::GetLastError()));
    }
    // Taken: the driver holds it until it is out, and WriteDone says so.
    line_->writePending = true;
    return size;
}

qint64 TSerialDevice::Unsent()
{
    if (line_->handle == INVALID_HANDLE_VALUE)
        return 0;
    const std::optional<COMSTAT> status = line_->Status();
    if (!status)
        return Failed(FailureOf(PortFailure::Control, ::GetLastError()));
    // A pending write's bytes are the driver's to send, whether or not it
    // counts them in its queue yet.
    const bool writing = line_->writePending && !HasOverlappedIoCompleted(&line_->writing);
    return std::max<qint64>(status->cbOutQue, writing ? line_->outgoing.size() : 0);
}

LineSettings TSerialDevice::Taken()
{
    DCB line{};
    line.DCBlength = sizeof(DCB);
    if (line_->handle == INVALID_HANDLE_VALUE || !::GetCommState(line_->handle, &line))
        return {0, 0, Parity::None, 0, Flow::None};
    // Mark and space parity read as none, and any flow control but RTS/CTS
    // as none: this program never sets them, and a driver that kept them
    // is told apart by the rest of the line.
    const Parity parity = line.Parity == EVENPARITY ? Parity::Even
        : line.Parity == ODDPARITY                  ? Parity::Odd
                                                    : Parity::None;
    const bool rtsCts = line.fOutxCtsFlow && line.fRtsControl == RTS_CONTROL_HANDSHAKE;
    return {int(line.BaudRate), line.ByteSize, parity, line.StopBits == TWOSTOPBITS ? 2 : 1,
            rtsCts ? Flow::RtsCts : Flow::None};
}

// ClearCommError reports each error flag once and clears it, so the flags
// are summed by every look at the line; the changes of the input lines are
// those seen between one look at them and the next.
std::optional<LineCounters> TSerialDevice::Counters()
{
    if (line_->handle == INVALID_HANDLE_VALUE || !line_->Status())
        return std::nullopt;
    ModemLines();
    return line_->counted;
}

std::optional<unsigned> TSerialDevice::ModemLines()
{
    DWORD status = 0;
    if (line_->handle == INVALID_HANDLE_VALUE || !::GetCommModemStatus(line_->handle, &status))
        return std::nullopt;
    if (line_->modemSeen) {
        const DWORD changed = status ^ line_->modem;
        line_->counted.cts += (changed & MS_CTS_ON) != 0;
        line_->counted.dsr += (changed & MS_DSR_ON) != 0;
        line_->counted.dcd += (changed & MS_RLSD_ON) != 0;
        line_->counted.ring += (changed & MS_RING_ON) != 0;
    }
    line_->modem = status;
    line_->modemSeen = true;
    unsigned lines = line_->raised;
    for (const auto &[line, bit] : kInputs)
        if (status & bit)
            lines |= line;
    return lines;
}

// Windows offers no loopback of the UART's own: only RTS and DTR are set.
bool TSerialDevice::SetModemLines(unsigned lines, bool raised)
{
    if (line_->handle == INVALID_HANDLE_VALUE || (lines & ~unsigned(Rts | Dtr)))
        return false;
    const std::pair<unsigned, DWORD> kOutputs[] = {{Rts, raised ? SETRTS : CLRRTS}, {Dtr, raised ? SETDTR : CLRDTR}};
    for (const auto &[line, function] : kOutputs) {
        if (!(lines & line))
            continue;
        if (!::EscapeCommFunction(line_->handle, function))
            return false;
        line_->raised = raised ? line_->raised | line : line_->raised & ~line;
    }
    return true;
}

void TSerialDevice::WatchReads(bool watch)
{
    line_->watchReads = watch;
    // What came while nobody watched is told now.
    if (watch)
        line_->AnnounceSoon();
}

void TSerialDevice::WatchWrites(bool watch)
{
    line_->watchWrites = watch;
    // The device takes a write whenever none is pending.
    if (watch && !line_->writePending && line_->handle != INVALID_HANDLE_VALUE)
        QMetaObject::invokeMethod(
            this, [this] { if (line_->watchWrites && !line_->writePending) emit Writable(); }, Qt::QueuedConnection);
}

void TSerialDevice::Close()
{
    if (line_->handle == INVALID_HANDLE_VALUE)
        return;
    WatchReads(false);
    WatchWrites(false);
    // A frame written just before the close goes out at the rate it was
    // written for: what waits is given the time the line needs for it (ten
    // bits a byte) and a little more, but never more than a second.
    qint64 unsent = Unsent();
    if (unsent > 0) {
        const qint64 ms = std::min<qint64>(unsent * 10'000 / std::max(line_->baud, 1) + 50, 1000);
        QDeadlineTimer deadline(ms);
        while ((unsent = Unsent()) > 0 && !deadline.hasExpired())
            QThread::msleep(1);
    }
    // Whatever still waits cannot go out, and the pending read is called
    // off. The driver owns their buffers until it says they are done, which
    // a driver that hangs never would: it is given a second.
    ::PurgeComm(line_->handle, PURGE_TXABORT | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_RXCLEAR);
    ::CancelIoEx(line_->handle, nullptr);
    for (auto [pending, request] : {std::pair{line_->readPending, &line_->reading},
                                    std::pair{line_->writePending, &line_->writing}})
        if (pending)
            ::WaitForSingleObject(request->hEvent, 1000);
    line_->readPending = line_->writePending = false;
    ::SetCommState(line_->handle, &line_->found);
    ::SetCommTimeouts(line_->handle, &line_->foundTimeouts);
    ::CloseHandle(line_->handle);
    line_->handle = INVALID_HANDLE_VALUE;
    delete std::exchange(line_->readDone, nullptr);
    delete std::exchange(line_->writeDone, nullptr);
    ::CloseHandle(line_->reading.hEvent);
    ::CloseHandle(line_->writing.hEvent);
    ::CloseHandle(line_->draining.hEvent);
}
