#include "system_facts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <vector>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString UserName(uid_t uid)
{
    const passwd *user = ::getpwuid(uid);
    return user ? QString::fromLocal8Bit(user->pw_name) : QString::number(uid);
}

QString GroupName(gid_t gid)
{
    const group *entry = ::getgrgid(gid);
    return entry ? QString::fromLocal8Bit(entry->gr_name) : QString::number(gid);
}

// The groups the group database lists the user in now; a session gets them
// at login.
std::vector<gid_t> JoinedGroups()
{
    const passwd *user = ::getpwuid(::geteuid());
    if (!user)
        return {};
    int count = 0;
    ::getgrouplist(user->pw_name, user->pw_gid, nullptr, &count);
    std::vector<gid_t> groups(std::size_t(std::max(count, 0)));
    if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0)
        return {};
    return groups;
}

std::vector<gid_t> SessionGroups()
{
    std::vector<gid_t> groups(std::size_t(std::max(::getgroups(0, nullptr), 0)));
    groups.resize(std::size_t(std::max(::getgroups(int(groups.size()), groups.data()), 0)));
    groups.push_back(::getegid());
    return groups;
}

bool Has(const std::vector<gid_t> &groups, gid_t gid)
{
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

} // namespace

bool DevicePresent(const QString &device)
{
    return QFileInfo::exists(device);
}

QStringList PresentSerialDevices()
{
    const auto filters = QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot;
    QStringList found;
    const QDir dev(QStringLiteral("/dev"));
    for (const QString &name : dev.entryList({QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")}, filters))
        found << dev.filePath(name);
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QString &name : byId.entryList(filters))
        found << byId.filePath(name);
    return found;
}

AccessFacts LookUpAccess(const QString &device)
{
    AccessFacts facts;
    struct stat st = {};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0)
        return facts;
    facts.owner = UserName(st.st_uid);
    facts.group = GroupName(st.st_gid);
    facts.mode = st.st_mode & 07777;
    facts.userIsOwner = st.st_uid == ::geteuid();
    facts.inGroup = Has(SessionGroups(), st.st_gid);
    facts.joinedGroup = Has(JoinedGroups(), st.st_gid);
    return facts;
}
