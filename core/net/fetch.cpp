#include "net/fetch.h"

#include "net/decode.h"
#include "net/network_policy.h"
#include "net/proxy.h"

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSaveFile>
#include <QThread>
#include <QTimer>
#include <cctype>
#include <memory>
#include <vector>

namespace fetch {

namespace {

// Qt holds at most this much of an answer that we have not read yet; we read it as it comes,
// so an answer never occupies much more than its limit plus this.
constexpr qint64 ReadBufferSize = qint64(256) * 1024;

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
    default: return status > 500 ? QNetworkReply::UnknownServerError : QNetworkReply::UnknownContentError;
    }
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

// Every request's proxy, decided per address by the one rule (net/proxy.h). Set on the
// manager itself: the application-wide proxy is never used for loopback addresses.
class ChosenProxy : public QNetworkProxyFactory {
public:
    explicit ChosenProxy(const NetworkPolicy &policy) : policy_(policy) {}
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override
    {
        return {policy_.proxyFor(query.url())};
    }

private:
    const NetworkPolicy &policy_;
};

}  // namespace

QDateTime httpDate(const QByteArray &value, const QDateTime &now)
{
    // "Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT" or
    // "Sun Nov  6 08:49:37 1994": the day's name first, then the rest in either order.
    QByteArray text = value.trimmed();
    text.replace(',', ' ').replace('-', ' ');
    QList<QByteArray> words = text.simplified().split(' ');
    if (words.size() < 5)
        return QDateTime();
    words.removeFirst();
    static const QByteArray Months[] = {
        "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    const bool dayFirst = !words[0].isEmpty() && std::isdigit(static_cast<unsigned char>(words[0][0]));
    const QByteArray dayWord = dayFirst ? words[0] : words[1];
    const QByteArray monthWord = (dayFirst ? words[1] : words[0]).toLower();
    const QByteArray yearWord = dayFirst ? words[2] : words[3];
    const QByteArray timeWord = dayFirst ? words[3] : words[2];
    if (dayFirst && words.size() >= 5 && words[4] != "GMT" && words[4] != "UTC")
        return QDateTime();
    int month = 0;
    while (month < 12 && Months[month] != monthWord)
        ++month;
    bool dayOk = false;
    bool yearOk = false;
    const int day = dayWord.toInt(&dayOk);
    int year = yearWord.toInt(&yearOk);
    const QTime time = QTime::fromString(QString::fromLatin1(timeWord), QStringLiteral("HH:mm:ss"));
    if (month == 12 || !dayOk || !yearOk || !time.isValid())
        return QDateTime();
    if (yearWord.size() == 2) {
        // A two-digit year more than 50 years ahead is the most recent past one.
        year += 2000;
        if (year > now.date().year() + 50)
            year -= 100;
    }
    const QDate date(year, month + 1, day);
    return date.isValid() ? QDateTime(date, time, Qt::UTC) : QDateTime();
}

int retryAfterSeconds(const QByteArray &value, const QDateTime &now)
{
    bool number = false;
    const qint64 seconds = value.trimmed().toLongLong(&number);
    if (number)
        return seconds < 0 ? -1 : int(qMin(seconds, qint64(MaxRetryAfter)));
    const QDateTime when = httpDate(value, now);
    if (!when.isValid())
        return -1;
    return int(qBound(qint64(0), now.secsTo(when), qint64(MaxRetryAfter)));
}

bool proxyFailed(const QNetworkReply *reply)
{
    const QNetworkReply::NetworkError error = reply->error();
    if (error >= QNetworkReply::ProxyConnectionRefusedError && error <= QNetworkReply::UnknownProxyError)
        return true;
    // Through an http proxy Qt reports the proxy's refusal as the server's; the server itself
    // is never reached but through the proxy.
    const bool refused = error == QNetworkReply::ConnectionRefusedError || error == QNetworkReply::HostNotFoundError;
    return refused && proxyFor(reply->url()).type() != QNetworkProxy::NoProxy;
}

// One manager per thread for the life of the thread: its connection threads and kept-alive
// connections serve every fetch. Each fetch has its own reply, so a fetch started while
// another one waits still gets its own answer.
QNetworkAccessManager &networkManager()
{
    thread_local QNetworkAccessManager *manager = [] {
        auto *m = new QNetworkAccessManager;
        m->setCookieJar(new NoCookies);
        m->setAutoDeleteReplies(false);
        m->setProxyFactory(new ChosenProxy(policy()));
        QObject::connect(QThread::currentThread(), &QThread::finished, m, &QObject::deleteLater);
        return m;
    }();
    return *manager;
}

namespace {

// One fetch in flight: follows redirects, counts the body against its limit as it arrives,
// and enforces the stall timeout and the overall deadline. Reports once, through onDone.
class Transfer : public QObject {
public:
    Transfer(const QString &address, qint64 maxBytes)
        : address_(address), maxBytes_(maxBytes), watch_([this](TransferWatch::Reason why) {
              if (why == TransferWatch::StoppedSlow)
                  fail(Failure::TooSlow, QStringLiteral("too slow"));
              else
                  fail(Failure::TimedOut, QStringLiteral("timed out"));
          })
    {
        overall_.setSingleShot(true);
        connect(
            &overall_, &QTimer::timeout, this, [this] { fail(Failure::TimedOut, QStringLiteral("deadline passed")); });
    }
    ~Transfer() override { delete reply_; }

    std::function<void()> onDone;
    Result result;

    void start()
    {
        const QUrl url(address_);
        if (!isWebUrl(url)) {
            result.error = QStringLiteral("not an http address");
            result.failure = Failure::NotWeb;
            finish();
            return;
        }
        overall_.start(deadline());
        request(url);
    }

private:
    void request(const QUrl &url)
    {
        result = Result();
        failure_.clear();
        failureKind_ = Failure::None;
        reply_ = networkManager().get(makeRequest(url, RequestKind::Page));
        reply_->setReadBufferSize(ReadBufferSize);
        connect(reply_, &QNetworkReply::readyRead, this, [this] {
            drain();
            watch_.activity(result.body.size());
        });
        connect(reply_, &QNetworkReply::downloadProgress, this, [this](qint64, qint64 total) {
            if (total > maxBytes_)
                fail(Failure::TooLarge, QStringLiteral("answer too large"));
        });
        connect(reply_, &QNetworkReply::metaDataChanged, this, [this] { watch_.activity(result.body.size()); });
        connect(reply_, &QNetworkReply::finished, this, &Transfer::hopEnded, Qt::QueuedConnection);
        watch_.start();
    }

    void fail(Failure kind, const QString &why)
    {
        if (failure_.isEmpty()) {
            failure_ = why;
            failureKind_ = kind;
        }
        if (reply_)
            reply_->abort();
    }

    // Reads what has arrived so far, counting it against the limit as it comes.
    void drain()
    {
        while (failure_.isEmpty() && reply_->bytesAvailable() > 0) {
            if (result.body.size() + reply_->bytesAvailable() > maxBytes_) {
                fail(Failure::TooLarge, QStringLiteral("answer too large"));
                return;
            }
            result.body += reply_->read(reply_->bytesAvailable());
        }
    }

    void hopEnded()
    {
        if (!reply_)
            return;
        drain();
        QNetworkReply *reply = reply_;
        reply_ = nullptr;
        reply->disconnect(this);
        reply->deleteLater();

        result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        result.contentType = reply->rawHeader("Content-Type");
        if (result.status == 429 || result.status == 503)
            result.retryAfter = retryAfterSeconds(reply->rawHeader("Retry-After"));
        const qint64 length = declaredLength(reply);
        const QNetworkReply::NetworkError error = reply->error();
        if (!failure_.isEmpty()) {
            result.error = failure_;
            result.failure = failureKind_;
        } else if (result.status <= 0 || (error != QNetworkReply::NoError && error != statusError(result.status))) {
            // No status line (refused, unknown host...), or the transfer broke (reset, a
            // chunked body without its last chunk, failed decoding...).
            result.error = proxyFailed(reply) ? QStringLiteral("cannot connect to the proxy: ") + reply->errorString()
                                              : reply->errorString();
            result.failure = proxyFailed(reply) ? Failure::Proxy
                : result.status <= 0            ? Failure::Connect
                                                : Failure::Incomplete;
        } else if (length == -2) {
            result.error = QStringLiteral("conflicting Content-Length");
            result.failure = Failure::Incomplete;
        } else if (length >= 0 && !contentEncoded(reply) && length != result.body.size()) {
            result.error = QStringLiteral("body length differs from Content-Length");
            result.failure = Failure::Incomplete;
        } else {
            result.ok = true;
        }
        const Hop hop = result.ok ? redirectHop(reply, redirects_) : Hop();
        if (hop.kind == Hop::Follow) {
            request(hop.next);
            return;
        }
        if (hop.kind != Hop::None) {
            result.ok = false;
            result.error = hop.kind == Hop::TooMany ? QStringLiteral("too many redirects")
                                                    : QStringLiteral("redirect to a non-web address");
            result.failure = Failure::Redirect;
        }
        finish();
    }

    void finish()
    {
        overall_.stop();
        watch_.stop();
        if (!result.ok)
            result.body = QByteArray();
        if (onDone)
            onDone();
    }

    QString address_;
    qint64 maxBytes_;
    QPointer<QNetworkReply> reply_;
    TransferWatch watch_;
    QTimer overall_;
    QString failure_;
    Failure failureKind_ = Failure::None;
    int redirects_ = 0;
};

}  // namespace

bool isWebUrl(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() && (scheme == u"http" || scheme == u"https");
}

bool isWebAddress(const QString &address)
{
    return isWebUrl(QUrl(address));
}

void getLater(const QString &url, qint64 maxBytes, QObject *context, std::function<void(const Result &)> done)
{
    auto *transfer = new Transfer(url, maxBytes);
    transfer->setParent(context);  // gone with its context, its answer unread
    transfer->onDone = [transfer, done = std::move(done)] {
        done(transfer->result);
        transfer->deleteLater();
    };
    transfer->start();
}

bool saveToFile(const QByteArray &bytes, const QString &target)
{
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

}  // namespace fetch

std::optional<QString> bodyText(const fetch::Result &answer)
{
    if (!answer.ok)
        return std::nullopt;
    return fetch::decode(answer.body, answer.contentType);
}
