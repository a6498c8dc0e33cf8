#include "stream_sink.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

int Descriptor(TStreamWriter::Standard stream)
{
    return stream == TStreamWriter::Standard::Output ? STDOUT_FILENO : STDERR_FILENO;
}

} // namespace

StreamSink StreamSink::Standard(TStreamWriter::Standard stream)
{
    return {Descriptor(stream), false};
}

std::optional<StreamSink> StreamSink::OpenFile(const QString &path, QString *why)
{
    // Without O_NONBLOCK, opening a FIFO waits for a reader, for ever and
    // deaf to signals; with it, a FIFO nobody reads fails at once (ENXIO).
    const int file = ::open(QFile::encodeName(path).constData(),
                            O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (file < 0) {
        *why = errno == ENXIO ? QStringLiteral("nobody reads it (a FIFO with no reader)")
                              : QString::fromLocal8Bit(std::strerror(errno));
        return std::nullopt;
    }
    // From here the writer's own thread may wait for a slow reader.
    ::fcntl(file, F_SETFL, ::fcntl(file, F_GETFL) & ~O_NONBLOCK);
    return StreamSink(file, true);
}

StreamSink::Outcome StreamSink::WriteAll(const QByteArray &text)
{
    for (qsizetype done = 0; done < text.size();) {
        const ssize_t n = ::write(int(handle_), text.constData() + done, size_t(text.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno == EPIPE) // broken pipes do not kill this program
            return {true, {}};
        else if (n < 0 && errno != EINTR)
            return {false, QString::fromLocal8Bit(std::strerror(errno))};
    }
    return {};
}

bool StreamSink::ReaderGone()
{
    // A pipe whose reader left reports an error, a terminal that closed a
    // hang-up, asked for no event at all.
    pollfd watched{int(handle_), 0, 0};
    return ::poll(&watched, 1, 0) == 1 && (watched.revents & (POLLERR | POLLHUP));
}

void StreamSink::Close()
{
    if (owned_)
        ::close(int(handle_));
}

bool TStreamWriter::IsOpen(Standard stream)
{
    return ::fcntl(Descriptor(stream), F_GETFD) != -1;
}

bool TStreamWriter::IsTerminal(Standard stream)
{
    return ::isatty(Descriptor(stream)) == 1;
}
