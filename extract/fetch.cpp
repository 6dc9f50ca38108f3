#include "fetch.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QThread>
#include <QTimer>

namespace fetch {

namespace {

int g_stallMs = DefaultStallMs;
int g_deadlineMs = DefaultDeadlineMs;

// Qt holds at most this much of an answer that we have not read yet; we read it as it comes,
// so an answer never occupies much more than its limit plus this.
constexpr qint64 ReadBufferSize = 256 * 1024;

// The error Qt reports for an answer that arrived whole with this status. Any other error
// means the transfer itself failed.
QNetworkReply::NetworkError statusError(int status)
{
    if (status < 400)
        return QNetworkReply::NoError;
    switch (status) {
    case 400: return QNetworkReply::ProtocolInvalidOperationError;
    case 401: return QNetworkReply::AuthenticationRequiredError;
    case 403: return QNetworkReply::ContentAccessDenied;
    case 404: return QNetworkReply::ContentNotFoundError;
    case 405: return QNetworkReply::ContentOperationNotPermittedError;
    case 407: return QNetworkReply::ProxyAuthenticationRequiredError;
    case 409: return QNetworkReply::ContentConflictError;
    case 410: return QNetworkReply::ContentGoneError;
    case 418: return QNetworkReply::ProtocolInvalidOperationError;
    case 500: return QNetworkReply::InternalServerError;
    case 501: return QNetworkReply::OperationNotImplementedError;
    case 503: return QNetworkReply::ServiceUnavailableError;
    default:
        return status > 500 ? QNetworkReply::UnknownServerError : QNetworkReply::UnknownContentError;
    }
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The declared body length: -1 when none is declared, -2 when several headers disagree or
// the value is not a number.
qint64 declaredLength(const QNetworkReply *reply)
{
    qint64 length = -1;
    for (const auto &[name, value] : reply->rawHeaderPairs()) {
        if (name.compare("content-length", Qt::CaseInsensitive) != 0)
            continue;
        // Qt joins repeated headers with ", ".
        for (const QByteArray &part : value.split(',')) {
            bool ok = false;
            const qint64 n = part.trimmed().toLongLong(&ok);
            if (!ok || n < 0 || (length >= 0 && n != length))
                return -2;
            length = n;
        }
    }
    return length;
}

bool contentEncoded(const QNetworkReply *reply)
{
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    return !encoding.isEmpty() && encoding != "identity";
}

// A cookie jar that keeps nothing: every fetch stands alone, as with a new request object.
class NoCookies : public QNetworkCookieJar {
public:
    bool setCookiesFromUrl(const QList<QNetworkCookie> &, const QUrl &) override { return false; }
    QList<QNetworkCookie> cookiesForUrl(const QUrl &) const override { return {}; }
};

}  // namespace

// One manager per thread for the life of the thread: its connection threads and kept-alive
// connections serve every fetch. Each fetch has its own reply, so a fetch started while
// another one waits still gets its own answer.
QNetworkAccessManager &networkManager()
{
    thread_local QNetworkAccessManager *manager = [] {
        auto *m = new QNetworkAccessManager;
        m->setCookieJar(new NoCookies);
        m->setAutoDeleteReplies(false);
        QObject::connect(QThread::currentThread(), &QThread::finished, m, &QObject::deleteLater);
        return m;
    }();
    return *manager;
}

namespace {

struct Hop {
    Result result;
    QByteArray location;  // the Location of a redirect answer
};

// One request without following redirects.
Hop request(const QUrl &url, qint64 maxBytes, const QDeadlineTimer &deadline)
{
    Hop hop;
    Result &result = hop.result;

    QNetworkAccessManager &manager = networkManager();
    QNetworkRequest request(url);
    request.setRawHeader("If-Modified-Since", "0");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);

    QNetworkReply *reply = manager.get(request);
    reply->setReadBufferSize(ReadBufferSize);
    QEventLoop loop;
    QTimer stall;
    stall.setSingleShot(true);
    QTimer overall;
    overall.setSingleShot(true);
    QString failure;

    auto fail = [&](const QString &why) {
        if (failure.isEmpty())
            failure = why;
        reply->abort();
    };
    // Read what has arrived so far, counting it against the limit as it comes.
    auto drain = [&] {
        while (failure.isEmpty() && reply->bytesAvailable() > 0) {
            if (result.body.size() + reply->bytesAvailable() > maxBytes) {
                fail(QStringLiteral("answer too large"));
                return;
            }
            result.body += reply->read(reply->bytesAvailable());
        }
    };
    QObject::connect(&stall, &QTimer::timeout, &loop, [&] { fail(QStringLiteral("timed out")); });
    QObject::connect(&overall, &QTimer::timeout, &loop, [&] { fail(QStringLiteral("deadline passed")); });
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        drain();
        stall.start(g_stallMs);
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, &loop, [&](qint64, qint64 total) {
        if (total > maxBytes)
            fail(QStringLiteral("answer too large"));
        stall.start(g_stallMs);
    });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, [&] { stall.start(g_stallMs); });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    stall.start(g_stallMs);
    overall.start(int(qMax<qint64>(0, deadline.remainingTime())));
    if (!reply->isFinished())
        loop.exec();
    stall.stop();
    overall.stop();
    drain();

    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.contentType = reply->rawHeader("Content-Type");
    const qint64 length = declaredLength(reply);
    const QNetworkReply::NetworkError error = reply->error();
    if (!failure.isEmpty()) {
        result.error = failure;
    } else if (result.status <= 0) {
        result.error = reply->errorString();  // no status line: refused, unknown host...
    } else if (error != QNetworkReply::NoError && error != statusError(result.status)) {
        result.error = reply->errorString();  // reset, broken chunking, failed decoding...
    } else if (length == -2) {
        result.error = QStringLiteral("conflicting Content-Length");
    } else if (length >= 0 && !contentEncoded(reply) && length != result.body.size()) {
        result.error = QStringLiteral("body length differs from Content-Length");
    } else {
        result.ok = true;
        if (isRedirect(result.status))
            hop.location = reply->rawHeader("Location");
    }
    if (!result.ok)
        result.body = QByteArray();
    delete reply;
    return hop;
}

}  // namespace

void setTimeout(int ms)
{
    g_stallMs = ms > 0 ? ms : DefaultStallMs;
}

int timeout()
{
    return g_stallMs;
}

void setDeadline(int ms)
{
    g_deadlineMs = ms > 0 ? ms : DefaultDeadlineMs;
}

int deadline()
{
    return g_deadlineMs;
}

bool isWebUrl(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() && (scheme == u"http" || scheme == u"https");
}

bool isWebAddress(const QString &address)
{
    return isWebUrl(QUrl(address));
}

Result get(const QString &address, qint64 maxBytes)
{
    QUrl url(address);
    if (!isWebUrl(url)) {
        Result result;
        result.error = QStringLiteral("not an http address");
        return result;
    }
    const QDeadlineTimer deadline(g_deadlineMs);
    for (int redirects = 0;; ++redirects) {
        Hop hop = request(url, maxBytes, deadline);
        if (!hop.result.ok || hop.location.isEmpty())
            return hop.result;
        Result failed;
        failed.status = hop.result.status;
        if (redirects == MaxRedirects) {
            failed.error = QStringLiteral("too many redirects");
            return failed;
        }
        const QUrl next = url.resolved(QUrl::fromEncoded(hop.location));
        if (!isWebUrl(next)) {
            failed.error = QStringLiteral("redirect to a non-web address");
            return failed;
        }
        url = next;
    }
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
