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

namespace {

// Open the device itself, not a link to it, so the lock taken on it is the
// one every other program sees. A dangling link leads to where it points:
// the open fails there with the system's own reason, and the advice names
// the device that is missing.
QString Followed(const QString &path)
{
    const QFileInfo info(path);
    const QString target = info.canonicalFilePath();
    if (!target.isEmpty())
        return target;
    return info.isSymLink() ? info.symLinkTarget() : path;
}

} // namespace

ComRoute RouteCom(int number)
{
    if (number < 1)
        return {number, {}, {}, {}};
    const QString link = ComLinkFolder() + QStringLiteral("/com%1").arg(number);
    const QFileInfo info(link);
    if (info.isSymLink() || info.exists())
        return {number, {}, Followed(link), link};
    return {number, {}, QStringLiteral("/dev/ttyS%1").arg(qlonglong(number) - 1), {}};
}

ComRoute RoutePath(const QString &path)
{
    return {0, path, Followed(path), {}};
}
