#include "hosts.h"

#include "hosts_config.h"

namespace {

QString http(const char *host, const char *path)
{
    return QStringLiteral("http://") + QString::fromUtf8(host) + QString::fromUtf8(path);
}

Hosts &current()
{
    static Hosts table = Hosts::fromBuild();
    return table;
}

}  // namespace

Hosts Hosts::fromBuild()
{
    namespace c = hostconfig;
    Hosts h;
    h.WeishiPagePrefix = http(c::WeishiPageHost, "/t");
    h.WeishiDownloadApiPrefix = http(c::WeishiDownloadApiHost, "/weishi/video/downloadVideo.php?v=p&vid=");
    h.WeishiVideoCdnHost = QString::fromUtf8(c::WeishiVideoCdnHost);
    h.WeishiVideoRelayPrefix = http(c::WeishiVideoRelayHost, "/");
    h.WeishiCoverPrefix = http(c::WeishiCoverHost, "/weishi_pic/0/");
    h.MeipaiPagePrefix = http(c::MeipaiPageHost, "/media/");
    h.MeipaiAvatarPrefix = http(c::MeipaiAvatarHost, "");
    h.KuaishouPagePrefix = http(c::KuaishouPageHost, "/i/photo");
    h.WeipaiPagePrefix = http(c::WeipaiPageHost, "/video/");
    h.WeipaiApiPrefix = http(c::WeipaiApiHost, "/api/weipai/video/");
    h.WeipaiAvatarPrefix = http(c::WeipaiAvatarHost, "/avatar");
    h.MiaopaiPagePrefix = http(c::MiaopaiPageHost, "/show/");
    h.MiaopaiStreamPrefix = http(c::MiaopaiStreamHost, "/stream/");
    h.MiaopaiAvatarPrefix = http(c::MiaopaiAvatarHost, "");
    h.VersionFileUrl = QString::fromUtf8(c::VersionFileUrl);
    h.ForumUrl = QString::fromUtf8(c::ForumUrl);
    h.GuestbookUrl = QString::fromUtf8(c::GuestbookUrl);
    h.AlwaysVerifiedAuthor = QString::fromUtf8(c::AlwaysVerifiedAuthor);
    return h;
}

Hosts Hosts::allOn(const QString &host)
{
    const QString base = QStringLiteral("http://") + host;
    Hosts h;
    h.WeishiPagePrefix = base + "/t";
    h.WeishiDownloadApiPrefix = base + "/weishi/video/downloadVideo.php?v=p&vid=";
    h.WeishiVideoCdnHost = QStringLiteral("cdn.weishi.test");
    h.WeishiVideoRelayPrefix = base + "/";
    h.WeishiCoverPrefix = base + "/weishi_pic/0/";
    h.MeipaiPagePrefix = base + "/media/";
    h.MeipaiAvatarPrefix = base + "/mvavatar";
    h.KuaishouPagePrefix = base + "/i/photo";
    h.WeipaiPagePrefix = base + "/video/";
    h.WeipaiApiPrefix = base + "/api/weipai/video/";
    h.WeipaiAvatarPrefix = base + "/avatar";
    h.MiaopaiPagePrefix = base + "/show/";
    h.MiaopaiStreamPrefix = base + "/stream/";
    h.MiaopaiAvatarPrefix = base + "/tp";
    h.VersionFileUrl = base + "/version.txt";
    h.ForumUrl = base + "/forum";
    h.GuestbookUrl = base + "/guestbook.html";
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
