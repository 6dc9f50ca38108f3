// What a script adds to every request: its own User-Agent, Referer and headers, and the
// cookies of a Netscape cookie file (as browsers' export tools and curl write it), each sent
// only to the hosts and paths it names.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <optional>

namespace fetch {

struct Cookie {
    QString domain;  // without a leading dot
    bool subdomains = false;
    QString path = QStringLiteral("/");
    bool secure = false;  // https only
    QByteArray name;
    QByteArray value;
};

struct RequestExtras {
    QList<QPair<QByteArray, QByteArray>> headers;  // sent as they are, in order
    QList<Cookie> cookies;
};

// The cookies of a Netscape cookie file ("#HttpOnly_" lines included, expired ones left
// out); no value, with why naming the line, when it is not one.
std::optional<QList<Cookie>> readCookieFile(const QString &path, QString *why);

// The headers extras add to a request for url: its own, then one Cookie header with the
// cookies for url's host and path.
QList<QPair<QByteArray, QByteArray>> headersFor(const RequestExtras &extras, const QUrl &url);

}  // namespace fetch
