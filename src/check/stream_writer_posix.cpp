#include "stream_writer.h"

#include <chrono>
#include <utility>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

struct TStreamWriter::Shared
{
    int stream = -1;
    std::mutex mutex;
    std::condition_variable changed;
    QByteArray pending;
    bool writing = false;
    bool gone = false;
    bool closing = false;
    TStreamWriter *owner = nullptr; // null once the owner has been destroyed
};

namespace {

bool WriteAll(int stream, const QByteArray &text)
{
    qsizetype done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(stream, text.constData() + done, size_t(text.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno != EINTR)
            return false; // EPIPE: the reader has gone; broken pipes do not kill this program
    }
    return true;
}

} // namespace

TStreamWriter::TStreamWriter(int stream, QObject *owner) : QObject(owner), shared_(std::make_shared<Shared>())
{
    shared_->stream = stream;
    shared_->owner = this;
    std::thread([shared = shared_] { Run(shared); }).detach();
}

TStreamWriter::~TStreamWriter()
{
    Drain(1000);
    std::unique_lock lock(shared_->mutex);
    shared_->owner = nullptr;
    shared_->closing = true;
    shared_->changed.notify_all();
    // A thread still blocked on a stalled reader is left to end with the
    // program; it holds its own share of what it uses.
}

void TStreamWriter::Write(const QByteArray &text)
{
    std::lock_guard lock(shared_->mutex);
    if (shared_->gone || shared_->closing)
        return;
    shared_->pending += text;
    shared_->changed.notify_all();
}

bool TStreamWriter::Drain(int ms)
{
    std::unique_lock lock(shared_->mutex);
    return shared_->changed.wait_for(lock, std::chrono::milliseconds(ms), [this] {
        return shared_->gone || (shared_->pending.isEmpty() && !shared_->writing);
    }) && !shared_->gone;
}

bool TStreamWriter::IsOpen(int stream)
{
    return ::fcntl(stream, F_GETFD) != -1;
}

void TStreamWriter::Run(const std::shared_ptr<Shared> &shared)
{
    std::unique_lock lock(shared->mutex);
    for (;;) {
        shared->changed.wait(lock, [&] { return !shared->pending.isEmpty() || shared->closing; });
        if (shared->pending.isEmpty())
            break;
        const QByteArray text = std::exchange(shared->pending, {});
        shared->writing = true;
        lock.unlock();
        const bool written = WriteAll(shared->stream, text);
        lock.lock();
        shared->writing = false;
        if (!written && !shared->gone) {
            shared->gone = true;
            shared->pending.clear();
            // Posted to the owner's thread, while the lock keeps the owner
            // from being destroyed under it.
            if (TStreamWriter *owner = shared->owner)
                QMetaObject::invokeMethod(owner, &TStreamWriter::ReaderGone, Qt::QueuedConnection);
        }
        shared->changed.notify_all();
    }
}
