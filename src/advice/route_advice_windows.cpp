#include "advice_words.h"
#include "trouble_advice.h"

// Windows gives each port its number, so a missing port is mended where it
// gives them: in Device Manager, where an adapter's number can be changed.
QStringList MissingAdvice(const FailureFacts &facts, const QString &)
{
    QStringList lines{PresentDevices(facts.serialDevices)};
    if (!facts.route.path.isEmpty())
        return lines;
    lines << QStringLiteral("Device Manager (devmgmt.msc) shows under Ports (COM & LPT) which number each "
                            "adapter has; to give one %1, open it, Port Settings, Advanced, COM Port Number,")
                 .arg(Com(facts.route.number))
          << ThenRetry(facts);
    return lines;
}
