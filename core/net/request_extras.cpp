#include "net/request_extras.h"

#include <QDateTime>
#include <QFile>

namespace fetch {

std::optional<QList<Cookie>> readCookieFile(const QString &path, QString *why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("cannot read %1").arg(path);
        return std::nullopt;
    }
    QList<Cookie> cookies;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    int number = 0;
    // A cookie file is small; one larger than 4 MiB is not one.
    for (const QByteArray &raw : file.read(4 << 20).split('\n')) {
        ++number;
        QByteArray line = raw.endsWith('\r') ? raw.chopped(1) : raw;
        if (line.startsWith("#HttpOnly_"))
            line = line.mid(10);
        else if (line.trimmed().isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> f = line.split('\t');
        bool numeric = false;
        const qint64 expires = f.size() == 7 ? f[4].toLongLong(&numeric) : 0;
        if (f.size() != 7 || f[0].isEmpty() || f[5].isEmpty() || !numeric) {
            *why = QStringLiteral("%1:%2: not a line of a Netscape cookie file").arg(path).arg(number);
            return std::nullopt;
        }
        if (expires != 0 && expires < now)
            continue;
        Cookie c;
        c.subdomains = f[1].toUpper() == "TRUE" || f[0].startsWith('.');
        c.domain = QString::fromLatin1(f[0].startsWith('.') ? f[0].mid(1) : f[0]).toLower();
        c.path = QString::fromLatin1(f[2].isEmpty() ? QByteArray("/") : f[2]);
        c.secure = f[3].toUpper() == "TRUE";
        c.name = f[5];
        c.value = f[6];
        cookies << c;
    }
    return cookies;
}

QList<QPair<QByteArray, QByteArray>> headersFor(const RequestExtras &extras, const QUrl &url)
{
    QList<QPair<QByteArray, QByteArray>> out = extras.headers;
    const QString host = url.host().toLower();
    const QString path = url.path().isEmpty() ? QStringLiteral("/") : url.path();
    QByteArray cookie;
    for (const Cookie &c : extras.cookies) {
        const bool hostMatches = host == c.domain || (c.subdomains && host.endsWith(u'.' + c.domain));
        if (!hostMatches || !path.startsWith(c.path) || (c.secure && url.scheme() != u"https"))
            continue;
        if (!cookie.isEmpty())
            cookie += "; ";
        cookie += c.name + '=' + c.value;
    }
    if (!cookie.isEmpty())
        out.append({"Cookie", cookie});
    return out;
}

}  // namespace fetch
