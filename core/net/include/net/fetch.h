// Page fetching: GET requests that wait in a nested event loop, so the caller's window keeps
// handling its events while the answer is on its way.
//
// The fetch rule. An answer is a page when its status line and its whole body arrived
// intact, whatever the status: a 404, 418 or 503 page is returned like a 200 page. A fetch
// fails when the transfer did not complete intact:
//   - the address is not http(s), the host is unknown, the connection is refused or reset;
//   - nothing arrived for the stall timeout (30 s), or the whole fetch, redirects included,
//     took longer than the deadline (90 s);
//   - the body is larger than the size limit (counted while the bytes arrive);
//   - fewer than the low-speed limit's bytes arrived over its time span (1 KiB/s over 60 s);
//   - the body is shorter than its Content-Length, the answer carries conflicting
//     Content-Length headers, the chunked body ends without its last chunk, or the content
//     decoding failed;
//   - a redirect leads to a non-web address, or there are more than 10 of them.
// Redirects (301, 302, 303, 307, 308 with a Location) are followed; any other status, a
// redirect status without a Location included, is the page. A failed fetch has no body:
// callers keep their previous value and never replace a file with it.
//
// What cannot be seen: Qt 6.4 reads a chunk size it cannot parse ("zz") as 0, that is as the
// last chunk, and ends the answer without an error; the bytes after it are dropped with the
// connection. A page cut that way arrives as a shorter page. (A negative size such as "-10"
// makes Qt wait for more, and the stall timeout ends the fetch.) Downloads, whose length
// matters, check a body of unknown length by asking the server for what lies past its end.
#pragma once

#include "net/transfer_watch.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QStringList>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QNetworkAccessManager;
class QObject;
class QNetworkReply;

namespace fetch {

inline constexpr qint64 PageLimit = qint64(16) * 1024 * 1024;    // pages and interface answers
inline constexpr qint64 PictureLimit = qint64(8) * 1024 * 1024;  // pictures and the avatar file

// Why a fetch failed, by kind (the rule above).
enum class Failure {
    None,
    NotWeb,      // not an http(s) address
    Connect,     // unknown host, refused, reset before an answer
    TimedOut,    // the stall timeout or the deadline
    TooSlow,     // the low-speed limit
    TooLarge,    // the size limit
    Incomplete,  // the answer broke off or its length was wrong
    Redirect,    // a redirect to a non-web address, or too many
    Proxy,       // the proxy refused, could not be reached or failed
};

// Seconds a Retry-After value asks to wait (a number, or an HTTP date after now), at most
// MaxRetryAfter; -1 when there is none or it is not understood.
inline constexpr int MaxRetryAfter = 600;
int retryAfterSeconds(const QByteArray &value, const QDateTime &now = QDateTime::currentDateTimeUtc());
// An HTTP date (IMF-fixdate, or the obsolete RFC 850 and asctime forms), in UTC; invalid
// when it is none of them. now places a two-digit year.
QDateTime httpDate(const QByteArray &value, const QDateTime &now = QDateTime::currentDateTimeUtc());

// True when a request failed at the proxy (refused, unreachable, failed): no answer came.
bool proxyFailed(const QNetworkReply *reply);

struct Result {
    bool ok = false;  // true: the answer is a page (see the rule above)
    Failure failure = Failure::None;
    int status = 0;          // HTTP status of the final answer
    QByteArray body;         // the body, whatever the status; empty when !ok
    QByteArray contentType;  // the Content-Type header as sent
    QString error;           // why ok is false
    int retryAfter = -1;     // seconds a 429 or 503 answer's Retry-After asks to wait, -1 when none
};

// The calling thread's network manager, kept for the life of the thread (no cookies kept).
QNetworkAccessManager &networkManager();

// True for an http or https address with a host, parsed tolerantly as browsers do.
bool isWebAddress(const QString &address);
bool isWebUrl(const QUrl &url);

// GET url with "If-Modified-Since: 0" under the rule above, without waiting: maxBytes
// bounds the body; done is called with the result on the calling thread's event loop,
// unless context is gone by then.
void getLater(const QString &url, qint64 maxBytes, QObject *context, std::function<void(const Result &)> done);

// Writes bytes to a temporary file beside target that replaces it only when complete.
bool saveToFile(const QByteArray &bytes, const QString &target);

}  // namespace fetch

// A fetched page as text, or no value when the request could not be made or answered.
// An empty body is an empty text, not a failure.
std::optional<QString> bodyText(const fetch::Result &answer);
