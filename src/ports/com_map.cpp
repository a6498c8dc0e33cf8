#include "com_map.h"

#include <QDir>
#include <QFileInfo>

QString ComLinkFolder()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/comloop");
}

ComRoute RouteCom(int number)
{
    if (number < 1)
        return {};
    const QString link = ComLinkFolder() + QStringLiteral("/com%1").arg(number);
    const QFileInfo info(link);
    if (info.isSymLink() || info.exists()) {
        // Open the device itself, not the link, so the lock taken on it is
        // the one every other program sees; a dangling link stays as it is
        // and fails with the system's own reason.
        const QString target = info.canonicalFilePath();
        return {target.isEmpty() ? link : target, link};
    }
    return {QStringLiteral("/dev/ttyS%1").arg(qlonglong(number) - 1), {}};
}
