#include "stream_writer.h"

#include "system_error_windows.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include <io.h>
#include <windows.h>

namespace {

// How often an idle writer looks whether its reader is still there.
constexpr auto kWatchEvery = std::chrono::milliseconds(250);

// A standard stream goes by the C runtime's number for it, a report file by
// the number the runtime gives its handle.
int Descriptor(TStreamWriter::Standard stream)
{
    return stream == TStreamWriter::Standard::Output ? 1 : 2;
}

HANDLE StandardHandle(int stream)
{
    return ::GetStdHandle(stream == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

// A pipe's reader that has gone makes every write fail, an empty one too.
bool PipeReaderGone(HANDLE handle)
{
    if (::GetFileType(handle) != FILE_TYPE_PIPE)
        return false;
    DWORD n = 0;
    if (::WriteFile(handle, "", 0, &n, nullptr))
        return false;
    const DWORD error = ::GetLastError();
    return error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE;
}

} // namespace

struct TStreamWriter::Shared
{
    HANDLE handle = INVALID_HANDLE_VALUE;
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
    // What is written is UTF-8 everywhere; a console shows it as such only
    // when told, and otherwise in its own code page, where an arrow is "?".
    if (IsTerminal(stream))
        ::SetConsoleOutputCP(CP_UTF8);
}

TStreamWriter::TStreamWriter(int stream, bool owned, QObject *owner)
    : QObject(owner), shared_(std::make_shared<Shared>())
{
    shared_->stream = stream;
    shared_->owned = owned;
    shared_->handle = owned ? HANDLE(::_get_osfhandle(stream)) : StandardHandle(stream);
    shared_->owner = this;
    std::thread([shared = shared_] { Run(shared); }).detach();
}

TStreamWriter *TStreamWriter::OpenFile(const QString &path, QString *why, QObject *owner)
{
    // A pipe nobody serves fails at once: Windows does not wait for one.
    const HANDLE file = ::CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_WRITE,
                                      FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *why = ErrorText(::GetLastError());
        return nullptr;
    }
    const int stream = ::_open_osfhandle(intptr_t(file), 0);
    if (stream < 0) {
        *why = ErrorText(ERROR_TOO_MANY_OPEN_FILES);
        ::CloseHandle(file);
        return nullptr;
    }
    return new TStreamWriter(stream, true, owner);
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

// A program started without a console, or with a stream closed, has no
// handle for it.
bool TStreamWriter::IsOpen(Standard stream)
{
    const HANDLE handle = StandardHandle(Descriptor(stream));
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

bool TStreamWriter::IsTerminal(Standard stream)
{
    DWORD mode = 0;
    return ::GetConsoleMode(StandardHandle(Descriptor(stream)), &mode) != 0;
}

void TStreamWriter::Run(const std::shared_ptr<Shared> &shared)
{
    std::unique_lock lock(shared->mutex);
    for (;;) {
        if (!shared->changed.wait_for(lock, kWatchEvery, [&] { return !shared->pending.isEmpty() || shared->closing; })) {
            // Idle: a pipe whose reader left is noticed whether or not
            // anything is written.
            if (!shared->Broken() && PipeReaderGone(shared->handle)) {
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
        DWORD error = 0;
        for (qsizetype done = 0; done < text.size() && error == 0;) {
            DWORD n = 0;
            if (::WriteFile(shared->handle, text.constData() + done, DWORD(text.size() - done), &n, nullptr))
                done += n;
            else
                error = ::GetLastError();
        }
        lock.lock();
        shared->writing = false;
        if (error != 0 && !shared->Broken()) {
            shared->pending.clear();
            if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE) {
                shared->gone = true;
                shared->Tell(&TStreamWriter::ReaderGone);
            } else {
                shared->failure = ErrorText(error);
                shared->Tell(&TStreamWriter::Failed);
            }
        }
        shared->changed.notify_all();
    }
    if (shared->owned)
        ::_close(shared->stream);
}
