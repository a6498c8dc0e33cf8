#include "stream_sink.h"

#include "system_error_windows.h"

#include <windows.h>

namespace {

HANDLE StandardHandle(TStreamWriter::Standard stream)
{
    return ::GetStdHandle(stream == TStreamWriter::Standard::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool ReaderLeft(DWORD error)
{
    return error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE;
}

} // namespace

StreamSink StreamSink::Standard(TStreamWriter::Standard stream)
{
    // What is written is UTF-8 everywhere; a console shows it as such only
    // when told, and otherwise in its own code page, where an arrow is "?".
    if (TStreamWriter::IsTerminal(stream))
        ::SetConsoleOutputCP(CP_UTF8);
    return {std::intptr_t(StandardHandle(stream)), false};
}

std::optional<StreamSink> StreamSink::OpenFile(const QString &path, QString *why)
{
    // A pipe nobody serves fails at once: Windows does not wait for one.
    const HANDLE file = ::CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_WRITE,
                                      FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *why = ErrorText(::GetLastError());
        return std::nullopt;
    }
    return StreamSink(std::intptr_t(file), true);
}

StreamSink::Outcome StreamSink::WriteAll(const QByteArray &text)
{
    for (qsizetype done = 0; done < text.size();) {
        DWORD n = 0;
        if (!::WriteFile(HANDLE(handle_), text.constData() + done, DWORD(text.size() - done), &n, nullptr)) {
            const DWORD error = ::GetLastError();
            return ReaderLeft(error) ? Outcome{true, {}} : Outcome{false, ErrorText(error)};
        }
        done += n;
    }
    return {};
}

bool StreamSink::ReaderGone()
{
    // A pipe's reader that has gone makes every write fail, an empty one too.
    if (::GetFileType(HANDLE(handle_)) != FILE_TYPE_PIPE)
        return false;
    DWORD n = 0;
    return !::WriteFile(HANDLE(handle_), "", 0, &n, nullptr) && ReaderLeft(::GetLastError());
}

void StreamSink::Close()
{
    if (owned_)
        ::CloseHandle(HANDLE(handle_));
}

// A program started without a console, or with a stream closed, has no
// handle for it.
bool TStreamWriter::IsOpen(Standard stream)
{
    const HANDLE handle = StandardHandle(stream);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

bool TStreamWriter::IsTerminal(Standard stream)
{
    DWORD mode = 0;
    return ::GetConsoleMode(StandardHandle(stream), &mode) != 0;
}
