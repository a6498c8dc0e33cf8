#include "serial_port.h"

#include "serial_device.h"

#include <QTimer>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

// How long a pulled adapter's node may outlast its line's hang-up: a few
// milliseconds, measured, and room for a busy machine.
constexpr int kNodeGoesMs = 200;

// A terminal hands over at most this much in one read: reading it whole
// takes half the system calls and turns of the event loop that reading
// only what the input buffer has room for would.
constexpr std::size_t kReadSize = 4096;

// How often a port whose reads pause asks after its line: with the node's
// moment to go, a device that goes is noticed within a second.
constexpr int kPausedLookMs = 250;

} // namespace

TCommPort::TCommPort(QObject *owner) : QObject(owner), input_(2048), read_(kReadSize)
{
    pausedLook_.setInterval(kPausedLookMs);
    connect(&pausedLook_, &QTimer::timeout, this, &TCommPort::LookWhilePaused);
}

TCommPort::~TCommPort()
{
    Close();
}

void TCommPort::SetInSize(int size)
{
    if (device_ || size < 1)
        return;
    input_.assign(std::size_t(size), '\0');
}

void TCommPort::SetOpen(bool open)
{
    if (!open) {
        Close();
        return;
    }
    if (device_)
        return;

    failure_ = {};
    lock_ = {};
    route_ = path_.isEmpty() ? RouteCom(comNumber_) : RoutePath(path_);
    if (route_.device.isEmpty()) {
        Fail({PortFailure::NoPort});
        return;
    }
    lock_ = LockPort(route_.device);
    if (lock_.state != PortLock::Free) {
        Fail({PortFailure::Lock});
        return;
    }
    PortFailure failure;
    device_ = TSerialDevice::Open(route_.device, settings_, this, &failure);
    if (!device_) {
        UnlockPort(lock_);
        lock_.taken = false;
        Fail(failure);
        return;
    }
    connect(device_, &TSerialDevice::Readable, this, &TCommPort::Pump);
    connect(device_, &TSerialDevice::Writable, this, &TCommPort::Flush);
    begin_ = end_ = 0;
}

void TCommPort::Close()
{
    if (device_) {
        // Whatever is queued gets its chance to go before the line is given
        // back; what the driver does not take now could only be lost later.
        if (!output_.empty())
            (void)device_->Write(output_.data(), qint64(output_.size()));
        device_->Close();
        // Deleted from the event loop: this may run inside one of its signals.
        device_->deleteLater();
        device_ = nullptr;
        UnlockPort(lock_);
        lock_.taken = false;
    }
    begin_ = end_ = 0;
    readBegin_ = readEnd_ = 0;
    readsPaused_ = false;
    pausedLook_.stop();
    output_.clear();
}

void TCommPort::Fail(const PortFailure &failure)
{
    failure_ = failure;
    emit OnFailure();
}

void TCommPort::LoseSoon()
{
    // A USB adapter pulled out hangs its line up first and takes its node
    // away a few milliseconds later: what happened is told by the node, so
    // it is given a moment to go. Nothing is read or written meanwhile.
    if (device_->NodeGone()) {
        Lose();
        return;
    }
    device_->WatchReads(false);
    device_->WatchWrites(false);
    QTimer::singleShot(kNodeGoesMs, device_, [this, device = device_] {
        if (device_ == device)
            Lose();
    });
}

void TCommPort::Lose()
{
    PortFailure failure = device_->Failure();
    failure.gone = failure.gone || device_->NodeGone();
    output_.clear(); // nothing more goes out of a device that failed
    Close();
    Fail(failure);
    emit OnLost();
}

void TCommPort::Pump()
{
    if (!device_)
        return;
    if (readBegin_ == readEnd_) {
        const qint64 got = device_->Read(read_.data(), qint64(read_.size()));
        if (got < 0) {
            LoseSoon();
            return;
        }
        readBegin_ = 0;
        readEnd_ = std::size_t(got);
    }
    Deliver();
}

// Hands what was read to the input buffer as it has room, and raises
// OnDataReceived for each part; the window's handler makes the room.
void TCommPort::Deliver()
{
    while (device_ && readBegin_ < readEnd_) {
        if (begin_ > 0) {
            std::memmove(input_.data(), input_.data() + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
        }
        if (end_ == input_.size()) {
            // Full: the rest waits, here and in the driver, and goes on once
            // the window has taken something.
            readsPaused_ = true;
            device_->WatchReads(false);
            pausedLook_.start();
            return;
        }
        const std::size_t part = std::min(input_.size() - end_, readEnd_ - readBegin_);
        std::memcpy(input_.data() + end_, read_.data() + readBegin_, part);
        end_ += part;
        readBegin_ += part;
        emit OnDataReceived(int(part));
    }
}

void TCommPort::ResumeReads()
{
    readsPaused_ = false;
    pausedLook_.stop();
    if (!device_)
        return;
    device_->WatchReads(true);
    // What was read already is handed on from the event loop, even if the
    // device has nothing new to say.
    if (readBegin_ < readEnd_)
        QMetaObject::invokeMethod(this, &TCommPort::Deliver, Qt::QueuedConnection);
}

void TCommPort::LookWhilePaused()
{
    if (!device_ || !device_->HungUp())
        return;
    pausedLook_.stop();
    LoseSoon();
}

void TCommPort::PutChar(char ch)
{
    Queue(std::string_view(&ch, 1));
}

void TCommPort::PutString(const char *text)
{
    if (text)
        Queue(text);
}

void TCommPort::Queue(std::string_view bytes)
{
    // A closed port sends nothing. The bytes of one event (a frame's seven
    // calls) go out in one write, once the event loop turns.
    if (!device_ || bytes.empty())
        return;
    if (output_.empty())
        device_->WatchWrites(true);
    output_.append(bytes);
}

// Only the window's clicks and comloop-check's one frame at a time fill
// the queue, so it never holds more than the line drains in moments.
void TCommPort::Flush()
{
    if (!device_)
        return;
    const qint64 sent = device_->Write(output_.data(), qint64(output_.size()));
    if (sent < 0) {
        LoseSoon();
        return;
    }
    output_.erase(0, std::size_t(sent));
    if (output_.empty())
        device_->WatchWrites(false);
}

std::uint32_t TCommPort::GetOutBuffUsed()
{
    if (!device_)
        return 0;
    const qint64 unsent = device_->Unsent();
    if (unsent < 0) {
        LoseSoon();
        return 0;
    }
    return std::uint32_t(output_.size() + std::size_t(unsent));
}
