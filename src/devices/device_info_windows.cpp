#include "device_info.h"

#include <QRegularExpression>

#include <windows.h>
// Defines the device class's GUID here rather than taking it from a library.
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

namespace {

QString Property(HDEVINFO set, SP_DEVINFO_DATA &device, DWORD property)
{
    wchar_t text[512] = {};
    if (!::SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, reinterpret_cast<BYTE *>(text),
                                             sizeof text - sizeof(wchar_t), nullptr))
        return {};
    // A list of strings (hardware ids) is read as its first.
    return QString::fromWCharArray(text);
}

QString PortName(HDEVINFO set, SP_DEVINFO_DATA &device)
{
    const HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return {};
    wchar_t name[64] = {};
    DWORD size = sizeof name - sizeof(wchar_t);
    DWORD type = 0;
    const bool read = ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE *>(name), &size)
        == ERROR_SUCCESS;
    ::RegCloseKey(key);
    return read && type == REG_SZ ? QString::fromWCharArray(name) : QString();
}

} // namespace

// Windows lists each port in the Ports device class, with the name it shows
// in Device Manager, the driver's service and the hardware ids, in which a
// USB adapter carries its vendor and product.
DeviceInfo LookUpDeviceInfo(const QString &device)
{
    DeviceInfo info;
    const QString name = device.section(QLatin1Char('\\'), -1);
    const HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return info;
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &data); ++i) {
        if (PortName(set, data).compare(name, Qt::CaseInsensitive) != 0)
            continue;
        info.product = Property(set, data, SPDRP_FRIENDLYNAME);
        info.driver = Property(set, data, SPDRP_SERVICE);
        static const QRegularExpression ids(QStringLiteral("VID_([0-9A-F]{4})&PID_([0-9A-F]{4})"),
                                            QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch usb = ids.match(Property(set, data, SPDRP_HARDWAREID));
        if (usb.hasMatch())
            info.usbId = (usb.captured(1) + QLatin1Char(':') + usb.captured(2)).toLower();
        break;
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return info;
}
