#include "com_map.h"

#include <QRegularExpression>

namespace {

// The name Windows' own programs open a COM port by: past COM9 only the
// device namespace finds it, so every number goes that way.
QString ComDevice(qlonglong number)
{
    return QStringLiteral("\\\\.\\COM%1").arg(number);
}

} // namespace

// Windows numbers its COM ports itself: there is no folder of links.
QString ComLinkFolder()
{
    return {};
}

ComRoute RouteCom(int number)
{
    if (number < 1)
        return {number, {}, {}, {}};
    return {number, {}, ComDevice(number), {}};
}

// "COM12" and "com12" are the port as Windows names it; anything else is a
// device path, opened as it is written.
ComRoute RoutePath(const QString &path)
{
    static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]*)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = com.match(path);
    return {0, path, match.hasMatch() ? ComDevice(match.captured(1).toLongLong()) : path, {}};
}
