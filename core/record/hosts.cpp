#include "record/hosts.h"

#include "hosts_config.h"

namespace {

Hosts &current()
{
    static Hosts table = Hosts::fromBuild();
    return table;
}

}  // namespace

Hosts Hosts::fromBuild()
{
    Hosts h;
    for (const hostconfig::HostVariable &v : hostconfig::Hosts)
        h.variables.insert(QString::fromLatin1(v.name), QString::fromUtf8(v.value));
    h.VersionFileUrl = QString::fromUtf8(hostconfig::VersionFileUrl);
    h.SitesBundleUrl = QString::fromUtf8(hostconfig::SitesBundleUrl);
    h.ForumUrl = QString::fromUtf8(hostconfig::ForumUrl);
    h.GuestbookUrl = QString::fromUtf8(hostconfig::GuestbookUrl);
    h.AlwaysVerifiedAuthor = QString::fromUtf8(hostconfig::AlwaysVerifiedAuthor);
    return h;
}

Hosts Hosts::allOn(const QString &host)
{
    Hosts h;
    for (const hostconfig::HostVariable &v : hostconfig::Hosts)
        h.variables.insert(QString::fromLatin1(v.name), host);
    h.variables.insert(QStringLiteral("MEIPAI_AVATAR_HOST"), host + QStringLiteral("/mvavatar"));
    h.variables.insert(QStringLiteral("MIAOPAI_AVATAR_HOST"), host + QStringLiteral("/tp"));
    h.variables.insert(QStringLiteral("WEISHI_VIDEO_CDN_HOST"), QStringLiteral("cdn.weishi.test"));
    const QString base = QStringLiteral("http://") + host;
    h.VersionFileUrl = base + QStringLiteral("/version.txt");
    h.SitesBundleUrl = base + QStringLiteral("/sites.bundle");
    h.ForumUrl = base + QStringLiteral("/forum");
    h.GuestbookUrl = base + QStringLiteral("/guestbook.html");
    h.AlwaysVerifiedAuthor = QStringLiteral("Quorvin");
    return h;
}

const Hosts &hosts()
{
    return current();
}

void setHosts(const Hosts &table)
{
    current() = table;
}
