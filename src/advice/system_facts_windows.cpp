#include "system_facts.h"

#include <QCollator>
#include <QFileInfo>

#include <algorithm>

#include <windows.h>

namespace {

// The name Windows lists a port under: "COM3" for "\\.\COM3".
QString DosName(const QString &device)
{
    const QString prefix = QStringLiteral("\\\\.\\");
    return device.startsWith(prefix) ? device.mid(prefix.size()) : QString();
}

} // namespace

bool DevicePresent(const QString &device)
{
    const QString name = DosName(device);
    if (name.isEmpty())
        return QFileInfo::exists(device);
    wchar_t target[MAX_PATH];
    if (::QueryDosDeviceW(reinterpret_cast<const wchar_t *>(name.utf16()), target, MAX_PATH) != 0)
        return true;
    // Wine lists no DOS name for a port it maps to a Unix device. Asked for
    // no access at all, the device answers for itself: an open port (ours
    // too) refuses, a missing one is not found.
    const HANDLE probe = ::CreateFileW(reinterpret_cast<const wchar_t *>(device.utf16()), 0,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        ::CloseHandle(probe);
        return true;
    }
    const DWORD error = ::GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

// Every serial port's driver enters its COM name in SERIALCOMM while the
// port is there.
QStringList PresentSerialDevices()
{
    QStringList found;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return found;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        wchar_t port[64] = {};
        DWORD nameSize = std::size(name);
        DWORD portSize = sizeof port - sizeof(wchar_t);
        DWORD type = 0;
        const LONG read = ::RegEnumValueW(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE *>(port),
                                          &portSize);
        if (read == ERROR_NO_MORE_ITEMS)
            break;
        if (read == ERROR_SUCCESS && type == REG_SZ)
            found << QString::fromWCharArray(port);
    }
    ::RegCloseKey(key);
    QCollator numbers;
    numbers.setNumericMode(true);
    std::sort(found.begin(), found.end(), numbers);
    return found;
}

// Who may open a COM port is the driver's ACL, which grants every user the
// port while nobody else holds it: nothing of it helps a person decide.
AccessFacts LookUpAccess(const QString &)
{
    return {};
}
