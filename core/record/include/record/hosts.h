// Host configuration: where every service the program talks to lives. The services' paths
// are in their descriptions (sites/*.toml), which name these hosts by variable.
#pragma once

#include <QHash>
#include <QString>

inline const QString AppMessageTitle = QStringLiteral("Quorvin系列软件");

struct Hosts {
    QHash<QString, QString> variables;  // "MEIPAI_PAGE_HOST" -> "www.meipai.com"
    QString VersionFileUrl;
    QString SitesBundleUrl;  // the signed description set; its signature is this + ".sig"
    QString ForumUrl;
    QString GuestbookUrl;
    QString AlwaysVerifiedAuthor;

    QString host(const QString &variable) const { return variables.value(variable); }

    // The values compiled into this build.
    static Hosts fromBuild();

    // Every service on one host ("127.0.0.1:8601"). Hosts that are only the leading part of
    // a host name (the avatar hosts) become a path on it, so that they stay unique markers
    // in a page; the video CDN keeps a host name of its own, which is only ever a marker.
    static Hosts allOn(const QString &host);
};

// The table in force for the process; the build's values until replaced.
const Hosts &hosts();
void setHosts(const Hosts &table);
