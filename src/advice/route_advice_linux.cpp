#include "advice_words.h"
#include "posix_words.h"
#include "trouble_advice.h"

// A number leads to the built-in UART unless a comN link leads elsewhere,
// so a missing device is mended by making or moving that link.
QStringList MissingAdvice(const FailureFacts &facts, const QString &home)
{
    const RouteFacts &route = facts.route;
    // A path leads nowhere else, and no link of ours can mend it.
    if (!route.path.isEmpty())
        return {PresentDevices(facts.serialDevices)};
    QStringList lines;
    if (route.link.isEmpty())
        lines << QStringLiteral("%1 has no link in %2, so it leads to the built-in port %3.")
                     .arg(Com(route.number), ShortPath(facts.linkFolder, home), route.device);
    else
        lines << QStringLiteral("%1 leads to %2 through %3.")
                     .arg(Com(route.number), route.device, ShortPath(route.link, home));

    lines << PresentDevices(facts.serialDevices);

    lines << QStringLiteral("To give %1 a device:").arg(Com(route.number))
          << LinkCommands(facts, Candidate(facts.serialDevices), home) << ThenRetry(facts);
    return lines;
}
