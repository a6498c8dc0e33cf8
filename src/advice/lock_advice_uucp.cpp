#include "advice_words.h"
#include "posix_words.h"
#include "trouble_advice.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>

#include <climits>

namespace {

// What sits where the lock goes, completing "The lock file ... is".
QString Unfitness(const PortLock &lock)
{
    switch (lock.fault) {
    case PortLock::Pipe:
        return QStringLiteral("a named pipe");
    case PortLock::Directory:
        return QStringLiteral("a directory");
    case PortLock::Link:
        return QStringLiteral("a symbolic link to %1")
            .arg(lock.target.isEmpty() ? QStringLiteral("an unreadable target") : lock.target);
    case PortLock::Socket:
        return QStringLiteral("a socket");
    case PortLock::Node:
        return QStringLiteral("a device node");
    case PortLock::Huge:
        return QStringLiteral("%1 long, where a lock holds a few bytes")
            .arg(QLocale::c().formattedDataSize(lock.size, 0));
    case PortLock::Unreadable:
        return QStringLiteral("unreadable (%1)").arg(lock.why);
    case PortLock::Empty:
        return QStringLiteral("empty");
    case PortLock::NoProcess: {
        // Shown as it is, but printable and short.
        QString shown = QString::fromLatin1(lock.text);
        shown.replace(QRegularExpression(QStringLiteral("[^ -~]")), QStringLiteral("?"));
        return QStringLiteral("text that names no process (\"%1\")").arg(shown);
    }
    case PortLock::Changing:
        return QStringLiteral("changing while it is read");
    case PortLock::NoFault:
        break;
    }
    return QStringLiteral("not a lock");
}

QString RemoveCommand(const PortLock &lock)
{
    return QStringLiteral("    %1rm %2%3")
        .arg(lock.mine ? QString() : QStringLiteral("sudo "),
             lock.fault == PortLock::Directory ? QStringLiteral("-r ") : QString(), ShellWord(lock.path));
}

// A lock no live program can stand behind: it goes by hand, once nobody
// uses the device.
QStringList RemoveByHand(const FailureFacts &facts, const QString &why)
{
    return {why,
            QStringLiteral("If no program uses %1 (%2 lists those that do), remove it:")
                .arg(ShellWord(facts.route.device), WhoUses(facts.route.device)),
            RemoveCommand(facts.lock), ThenRetry(facts)};
}

} // namespace

QString LockReason(const QString &device, const PortLock &lock)
{
    switch (lock.state) {
    case PortLock::Free:
        break;
    case PortLock::Held: {
        const QString owner = lock.owner.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(lock.owner);
        return QStringLiteral("%1 is locked by process %2%3 through %4")
            .arg(device, QString::number(lock.pid), owner, lock.path);
    }
    case PortLock::Unfit:
        return QStringLiteral("The lock file %1 is %2").arg(lock.path, Unfitness(lock));
    case PortLock::Stuck:
        return QStringLiteral("The lock file %1 is stale, but cannot be removed (%2)")
            .arg(lock.path, lock.why);
    case PortLock::NameTooLong:
        return QStringLiteral("The lock file for %1 would be named with %2 bytes, and a file name holds at most %3")
            .arg(device)
            .arg(QFile::encodeName(lock.path).size())
            .arg(NAME_MAX);
    }
    return {};
}

QStringList LockAdvice(const FailureFacts &facts, const QString &home)
{
    const PortLock &lock = facts.lock;
    switch (lock.state) {
    case PortLock::Unfit:
        return RemoveByHand(facts, QStringLiteral("That is not a lock any program writes, so comloop leaves %1 "
                                                  "alone while it is there.")
                                       .arg(facts.route.device));
    case PortLock::Stuck:
        return {QStringLiteral("Its process is gone, but the file belongs to another user, so only an "
                               "administrator can remove it:"),
                RemoveCommand(lock), ThenRetry(facts)};
    case PortLock::NameTooLong:
        return {QStringLiteral("A port is locked under its device's real path, and this one is too long for "
                               "that; a link to it does not help, since links are followed to the device."),
                facts.route.path.isEmpty()
                    ? QStringLiteral("Give the device a shorter path, point %1 at it,")
                          .arg(ShellWord(LinkOf(facts, home)))
                    : QStringLiteral("Give the device a shorter path and name that instead,"),
                ThenRetry(facts)};
    case PortLock::Free:
    case PortLock::Held:
        break;
    }
    return {};
}

QStringList HeldAdvice(const FailureFacts &facts, const QString &home)
{
    const PortLock &lock = facts.lock;
    const int number = facts.route.number;
    if (lock.self && facts.otherSide == number)
        return {BothEnds(facts), TwoNumbers()};
    if (lock.self && facts.otherSide)
        return QStringList{BothEnds(facts), QStringLiteral("Point %1 at the other end of the cable:").arg(Com(number))}
            + LinkCommands(facts, Candidate(facts.serialDevices, facts.route.device), home)
            + QStringList{QStringLiteral("then press Open Ports again, or close the window and start comloop "
                                         "again with other numbers.")};
    if (lock.self)
        return RemoveByHand(facts, QStringLiteral("That lock names this very program, yet neither side of this "
                                                  "window holds %1: someone wrote it in comloop's name.")
                                       .arg(facts.route.device));
    const QString owner = lock.owner.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(lock.owner);
    return {QStringLiteral("Another program holds this port: process %1%2. Close it, %3")
                .arg(QString::number(lock.pid), owner, ThenRetry(facts))};
}
