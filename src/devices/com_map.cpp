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
// one every other program sees; a dangling link stays as it is and fails
// with the system's own reason.
QString Followed(const QString &path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    return target.isEmpty() ? path : target;
}

} // namespace

ComRoute RouteCom(int number)
{
    if (number < 1)
        return {};
    const QString link = ComLinkFolder() + QStringLiteral("/com%1").arg(number);
    const QFileInfo info(link);
    if (info.isSymLink() || info.exists())
        return {Followed(link), link};
    return {QStringLiteral("/dev/ttyS%1").arg(qlonglong(number) - 1), {}};
}

ComRoute RoutePath(const QString &path)
{
    return {Followed(path), {}};
}
