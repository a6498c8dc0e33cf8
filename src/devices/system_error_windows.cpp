#include "system_error_windows.h"

namespace {

PortFailure::Cause CauseOf(DWORD error)
{
    switch (error) {
    case ERROR_BROKEN_PIPE: // the line at the other end of the port has ended
        return PortFailure::HungUp;
    case ERROR_PRIVILEGE_NOT_HELD:
        return PortFailure::Denied;
    // Windows opens a COM port for one program at a time, and tells the
    // second one it may not have it.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return PortFailure::Busy;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
        return PortFailure::Missing;
    default:
        return PortFailure::NotSerial;
    }
}

} // namespace

PortFailure FailureOf(PortFailure::Step step, DWORD error)
{
    return {step, CauseOf(error), ErrorText(error)};
}

QString ErrorText(DWORD error)
{
    wchar_t *text = nullptr;
    const DWORD size = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                            | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    if (size == 0)
        return QStringLiteral("error %1").arg(error);
    const QString words = QString::fromWCharArray(text, int(size)).trimmed();
    ::LocalFree(text);
    return words;
}
