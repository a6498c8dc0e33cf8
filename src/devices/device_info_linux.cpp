#include "device_info.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString FirstLine(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readLine(256).trimmed()) : QString();
}

} // namespace

// sysfs: /sys/class/tty/<name>/device is the port, its driver link names
// the driver, and a USB adapter's port lies below the USB device that
// carries its ids.
DeviceInfo LookUpDeviceInfo(const QString &device)
{
    DeviceInfo info;
    const QString port = QStringLiteral("/sys/class/tty/%1/device").arg(QFileInfo(device).fileName());
    const QString real = QFileInfo(port).canonicalFilePath();
    if (real.isEmpty())
        return info;
    info.driver = QFileInfo(QFileInfo(port + QStringLiteral("/driver")).symLinkTarget()).fileName();
    bool ok = false;
    const int latency = FirstLine(port + QStringLiteral("/latency_timer")).toInt(&ok);
    if (ok)
        info.latencyMs = latency;
    for (QDir up(real); up.cdUp() && up.path() != QStringLiteral("/sys");) {
        if (!QFile::exists(up.filePath(QStringLiteral("idVendor"))))
            continue;
        info.usbId = FirstLine(up.filePath(QStringLiteral("idVendor"))) + QLatin1Char(':')
            + FirstLine(up.filePath(QStringLiteral("idProduct")));
        info.product = FirstLine(up.filePath(QStringLiteral("product")));
        break;
    }
    return info;
}
