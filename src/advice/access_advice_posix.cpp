#include "posix_words.h"
#include "trouble_advice.h"

namespace {

// "rw-rw----", as ls shows it.
QString Permissions(unsigned mode)
{
    QString text;
    for (int shift = 6; shift >= 0; shift -= 3) {
        text += mode >> shift & 4 ? QLatin1Char('r') : QLatin1Char('-');
        text += mode >> shift & 2 ? QLatin1Char('w') : QLatin1Char('-');
        text += mode >> shift & 1 ? QLatin1Char('x') : QLatin1Char('-');
    }
    return text;
}

} // namespace

// Permission is the device's own: who owns it, its group and its mode, set
// against the groups this session has and those the user has joined since.
// Joining a group is advised only where that group may open the device.
QStringList AccessAdvice(const FailureFacts &facts)
{
    const AccessFacts &access = facts.access;
    const QString device = ShellWord(facts.route.device);
    if (access.owner.isEmpty())
        return {QStringLiteral("To see who may open it: ls -l %1").arg(device)};

    QStringList lines{QStringLiteral("%1 belongs to user %2 and group %3, with permissions %4.")
                          .arg(facts.route.device, access.owner, access.group, Permissions(access.mode))};
    const bool ownerMay = (access.mode & 0600) == 0600;
    // Joining root's group would hand out far more than a serial port.
    const bool groupMay = (access.mode & 060) == 060 && access.group != QStringLiteral("root");
    if ((access.mode & 06) == 06 || (groupMay && access.inGroup) || (ownerMay && access.userIsOwner))
        lines << QStringLiteral("These permissions let you open it, so something else refuses: an access "
                                "control list (getfacl %1) or a security module.")
                     .arg(device);
    else if (groupMay && access.joinedGroup)
        lines << QStringLiteral("You have joined %1, but this session began before that: log out and log in "
                                "again, and the group counts.")
                     .arg(access.group);
    else if (groupMay)
        lines << QStringLiteral("Members of group %1 may open it. Join it with").arg(access.group)
              << QStringLiteral("    sudo usermod -aG %1 $USER").arg(ShellWord(access.group))
              << QStringLiteral("then log out and log in again: the new group counts from the next login.");
    else if (access.userIsOwner)
        lines << QStringLiteral("You own it, yet its permissions keep you out: chmod u+rw %1").arg(device);
    else
        lines << QStringLiteral("Only %1 may open it, so joining a group will not help. Ask whoever looks after "
                                "this computer to give it a group for serial ports (with a udev rule, say).")
                     .arg(ownerMay && access.owner != QStringLiteral("root")
                              ? QStringLiteral("user %1 and root").arg(access.owner)
                              : QStringLiteral("root"));
    return lines;
}
