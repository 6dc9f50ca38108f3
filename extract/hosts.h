// Host configuration: the addresses of every service the program talks to.
#pragma once

#include <QString>

inline const QString AppMessageTitle = QStringLiteral("Quorvin系列软件");

// Every address prefix, built as "http://" + host + a fixed path. The build's values come
// from the generated configuration header; tests may install a table of their own.
struct Hosts {
    QString WeishiPagePrefix;
    QString WeishiDownloadApiPrefix;
    QString WeishiVideoCdnHost;
    QString WeishiVideoRelayPrefix;
    QString WeishiCoverPrefix;
    QString MeipaiPagePrefix;
    QString MeipaiAvatarPrefix;
    QString KuaishouPagePrefix;
    QString WeipaiPagePrefix;
    QString WeipaiApiPrefix;
    QString WeipaiAvatarPrefix;
    QString MiaopaiPagePrefix;
    QString MiaopaiStreamPrefix;
    QString MiaopaiAvatarPrefix;
    QString VersionFileUrl;
    QString ForumUrl;
    QString GuestbookUrl;
    QString AlwaysVerifiedAuthor;

    // The values compiled into this build.
    static Hosts fromBuild();

    // Every service on one host ("127.0.0.1:8601"), the avatar prefixes on their own
    // distinct leading texts so that they stay unique markers in a page.
    static Hosts allOn(const QString &host);
};

// The table in force for the process; the build's values until replaced.
const Hosts &hosts();
void setHosts(const Hosts &table);
