#include "fetch.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QStringDecoder>
#include <QTimer>
#include <QUrl>

namespace fetch {

namespace {
int g_timeoutMs = 30000;

// True for errors below HTTP: the connection, the transfer or the protocol failed. Errors
// that only report an HTTP status (404, 500...) still come with a body worth returning.
bool isTransportError(QNetworkReply::NetworkError error)
{
    const int code = int(error);
    const bool httpStatus = (code >= 201 && code <= 299) || (code >= 401 && code <= 499);
    return error != QNetworkReply::NoError && !httpStatus;
}

bool isHttpUrl(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() && (scheme == u"http" || scheme == u"https");
}
}  // namespace

void setTimeout(int ms)
{
    g_timeoutMs = ms > 0 ? ms : 30000;
}

int timeout()
{
    return g_timeoutMs;
}

Result get(const QString &address, qint64 maxBytes)
{
    Result result;
    const QUrl url(address);
    if (!isHttpUrl(url)) {
        result.error = QStringLiteral("not an http address");
        return result;
    }

    // One manager per call: nothing is shared between fetches, so a fetch started while
    // another one waits cannot disturb it.
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setRawHeader("If-Modified-Since", "0");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(10);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);

    QNetworkReply *reply = manager.get(request);
    QEventLoop loop;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    bool timedOut = false;
    bool tooLarge = false;

    QObject::connect(&watchdog, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        reply->abort();
    });
    // Any progress restarts the wait, so only a stalled connection or transfer times out.
    QObject::connect(reply, &QNetworkReply::downloadProgress, &loop,
                     [&](qint64 received, qint64 total) {
                         if (received > maxBytes || total > maxBytes) {
                             tooLarge = true;
                             reply->abort();
                             return;
                         }
                         watchdog.start(g_timeoutMs);
                     });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    watchdog.start(g_timeoutMs);
    if (!reply->isFinished())
        loop.exec();
    watchdog.stop();

    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.contentType = reply->rawHeader("Content-Type");
    if (timedOut) {
        result.error = QStringLiteral("timed out");
    } else if (tooLarge) {
        result.error = QStringLiteral("answer too large");
    } else if (isTransportError(reply->error())) {
        // No complete answer (refused, unknown host, closed early...).
        result.error = reply->errorString();
    } else {
        result.body = reply->readAll();
        if (result.body.size() > maxBytes)
            result.error = QStringLiteral("answer too large");
        else
            result.ok = true;
    }
    if (!result.ok)
        result.body.clear();
    delete reply;
    return result;
}

namespace {

QByteArray charsetOf(const QByteArray &contentType)
{
    const QByteArray lower = contentType.toLower();
    const qsizetype at = lower.indexOf("charset=");
    if (at < 0)
        return {};
    QByteArray name = contentType.mid(at + 8);
    const qsizetype end = name.indexOf(';');
    if (end >= 0)
        name.truncate(end);
    return name.trimmed().replace('"', "").replace('\'', "");
}

QByteArray metaCharset(const QByteArray &body)
{
    // Only the head of the page is searched, as browsers do.
    const QByteArray head = body.left(4096).toLower();
    qsizetype from = 0;
    while (true) {
        const qsizetype meta = head.indexOf("<meta", from);
        if (meta < 0)
            return {};
        const qsizetype close = head.indexOf('>', meta);
        const QByteArray tag = head.mid(meta, close < 0 ? -1 : close - meta);
        const qsizetype at = tag.indexOf("charset=");
        if (at >= 0) {
            qsizetype pos = at + 8;
            while (pos < tag.size() && (tag[pos] == '"' || tag[pos] == '\'' || tag[pos] == ' '))
                ++pos;
            qsizetype end = pos;
            while (end < tag.size() && (isalnum(static_cast<unsigned char>(tag[end])) ||
                                        tag[end] == '-' || tag[end] == '_'))
                ++end;
            if (end > pos)
                return tag.mid(pos, end - pos);
        }
        from = meta + 5;
    }
}

QString decodeAs(const QByteArray &body, const QByteArray &charset)
{
    QStringDecoder decoder(charset.constData());
    if (!decoder.isValid())
        return QString::fromUtf8(body);
    return decoder.decode(body);
}

}  // namespace

QString decode(const QByteArray &body, const QByteArray &contentType)
{
    const QByteArray declared = charsetOf(contentType);
    if (!declared.isEmpty())
        return decodeAs(body, declared);
    if (body.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(body.mid(3));
    if (body.startsWith("\xFF\xFE"))
        return decodeAs(body.mid(2), "UTF-16LE");
    if (body.startsWith("\xFE\xFF"))
        return decodeAs(body.mid(2), "UTF-16BE");
    const QByteArray meta = metaCharset(body);
    if (!meta.isEmpty())
        return decodeAs(body, meta);
    return QString::fromUtf8(body);
}

bool downloadToFile(const QString &url, const QString &target, qint64 maxBytes)
{
    const Result answer = get(url, maxBytes);
    if (!answer.ok || answer.status < 200 || answer.status >= 300)
        return false;
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(answer.body) != answer.body.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

}  // namespace fetch

std::optional<QString> GetBody(const QString &URL)
{
    const fetch::Result answer = fetch::get(URL);
    if (!answer.ok)
        return std::nullopt;
    return fetch::decode(answer.body, answer.contentType);
}
