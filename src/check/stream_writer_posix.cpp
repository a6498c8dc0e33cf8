#include "stream_writer.h"

#include <QFile>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// How often an idle writer looks whether its reader is still there.
constexpr auto kWatchEvery = std::chrono::milliseconds(250);

int Descriptor(TStreamWriter::Standard stream)
{
    return stream == TStreamWriter::Standard::Output ? STDOUT_FILENO : STDERR_FILENO;
}

} // namespace

struct TStreamWriter::Shared
{
    int stream = -1;
    bool owned = false; // a file of our own, closed with the writer
    std::mutex mutex;
    std::condition_variable changed;
    QByteArray pending;
    bool writing = false;
    bool gone = false;    // the reader went away
    QString failure;      // a write failed: why
    bool closing = false;
    bool stalled = false; // a drain found the reader taking nothing
    TStreamWriter *owner = nullptr; // null once the owner has been destroyed

    bool Broken() const { return gone || !failure.isEmpty(); }
    // Posted to the owner's thread, while the lock keeps the owner from
    // being destroyed under it.
    void Tell(void (TStreamWriter::*signal)())
    {
        if (owner)
            QMetaObject::invokeMethod(owner, signal, Qt::QueuedConnection);
    }
};

TStreamWriter::TStreamWriter(Standard stream, QObject *owner) : TStreamWriter(Descriptor(stream), false, owner)
{
}

TStreamWriter::TStreamWriter(int stream, bool owned, QObject *owner)
    : QObject(owner), shared_(std::make_shared<Shared>())
{
    shared_->stream = stream;
    shared_->owned = owned;
    shared_->owner = this;
    std::thread([shared = shared_] { Run(shared); }).detach();
}

TStreamWriter *TStreamWriter::OpenFile(const QString &path, QString *why, QObject *owner)
{
    // Without O_NONBLOCK, opening a FIFO waits for a reader, for ever and
    // deaf to signals; with it, a FIFO nobody reads fails at once (ENXIO).
    const int file = ::open(QFile::encodeName(path).constData(),
                            O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (file < 0) {
        *why = errno == ENXIO ? QStringLiteral("nobody reads it (a FIFO with no reader)")
                              : QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }
    // From here the writer's own thread may wait for a slow reader.
    ::fcntl(file, F_SETFL, ::fcntl(file, F_GETFL) & ~O_NONBLOCK);
    return new TStreamWriter(file, true, owner);
}

TStreamWriter::~TStreamWriter()
{
    // A reader that took nothing once is not waited for again.
    if (!shared_->stalled)
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
    if (shared_->Broken() || shared_->closing)
        return;
    shared_->pending += text;
    shared_->changed.notify_all();
}

bool TStreamWriter::Drain(int ms)
{
    std::unique_lock lock(shared_->mutex);
    const bool out = shared_->changed.wait_for(lock, std::chrono::milliseconds(ms), [this] {
        return shared_->Broken() || (shared_->pending.isEmpty() && !shared_->writing);
    }) && !shared_->Broken();
    shared_->stalled = shared_->stalled || !out;
    return out;
}

bool TStreamWriter::ReaderLeft() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->gone;
}

QString TStreamWriter::Failure() const
{
    std::lock_guard lock(shared_->mutex);
    if (shared_->gone)
        return QStringLiteral("its reader went away");
    if (shared_->failure.isEmpty() && (shared_->writing || !shared_->pending.isEmpty()))
        return QStringLiteral("its reader takes nothing");
    return shared_->failure;
}

bool TStreamWriter::IsOpen(Standard stream)
{
    return ::fcntl(Descriptor(stream), F_GETFD) != -1;
}

bool TStreamWriter::IsTerminal(Standard stream)
{
    return ::isatty(Descriptor(stream)) == 1;
}

void TStreamWriter::Run(const std::shared_ptr<Shared> &shared)
{
    std::unique_lock lock(shared->mutex);
    for (;;) {
        if (!shared->changed.wait_for(lock, kWatchEvery, [&] { return !shared->pending.isEmpty() || shared->closing; })) {
            // Idle: a pipe whose reader left reports an error, a terminal
            // that closed a hang-up, whether or not anything is written.
            pollfd watched{shared->stream, 0, 0};
            if (!shared->Broken() && ::poll(&watched, 1, 0) == 1 && (watched.revents & (POLLERR | POLLHUP))) {
                shared->gone = true;
                shared->Tell(&TStreamWriter::ReaderGone);
                shared->changed.notify_all();
            }
            continue;
        }
        if (shared->pending.isEmpty())
            break;
        const QByteArray text = std::exchange(shared->pending, {});
        shared->writing = true;
        lock.unlock();
        int error = 0;
        for (qsizetype done = 0; done < text.size() && error == 0;) {
            const ssize_t n = ::write(shared->stream, text.constData() + done, size_t(text.size() - done));
            if (n > 0)
                done += n;
            else if (n < 0 && errno != EINTR)
                error = errno;
        }
        lock.lock();
        shared->writing = false;
        if (error != 0 && !shared->Broken()) {
            shared->pending.clear();
            // EPIPE: the reader has gone; broken pipes do not kill this program.
            if (error == EPIPE) {
                shared->gone = true;
                shared->Tell(&TStreamWriter::ReaderGone);
            } else {
                shared->failure = QString::fromLocal8Bit(std::strerror(error));
                shared->Tell(&TStreamWriter::Failed);
            }
        }
        shared->changed.notify_all();
    }
    if (shared->owned)
        ::close(shared->stream);
}
