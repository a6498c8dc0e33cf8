#include "stream_writer.h"

#include "stream_sink.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace {

// How often an idle writer looks whether its reader is still there.
constexpr auto kWatchEvery = std::chrono::milliseconds(250);

} // namespace

struct TStreamWriter::Shared
{
    explicit Shared(const StreamSink &to) : sink(to) {}

    StreamSink sink;
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

TStreamWriter::TStreamWriter(Standard stream, QObject *owner) : TStreamWriter(StreamSink::Standard(stream), owner)
{
}

TStreamWriter::TStreamWriter(const StreamSink &sink, QObject *owner)
    : QObject(owner), shared_(std::make_shared<Shared>(sink))
{
    shared_->owner = this;
    std::thread([shared = shared_] { Run(shared); }).detach();
}

TStreamWriter *TStreamWriter::OpenFile(const QString &path, QString *why, QObject *owner)
{
    const std::optional<StreamSink> file = StreamSink::OpenFile(path, why);
    return file ? new TStreamWriter(*file, owner) : nullptr;
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

void TStreamWriter::Run(const std::shared_ptr<Shared> &shared)
{
    std::unique_lock lock(shared->mutex);
    for (;;) {
        if (!shared->changed.wait_for(lock, kWatchEvery, [&] { return !shared->pending.isEmpty() || shared->closing; })) {
            // Idle: a reader that left is noticed whether or not anything
            // is written.
            if (!shared->Broken() && shared->sink.ReaderGone()) {
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
        const StreamSink::Outcome outcome = shared->sink.WriteAll(text);
        lock.lock();
        shared->writing = false;
        if ((outcome.gone || !outcome.failure.isEmpty()) && !shared->Broken()) {
            shared->pending.clear();
            if (outcome.gone) {
                shared->gone = true;
                shared->Tell(&TStreamWriter::ReaderGone);
            } else {
                shared->failure = outcome.failure;
                shared->Tell(&TStreamWriter::Failed);
            }
        }
        shared->changed.notify_all();
    }
    shared->sink.Close();
}
