// Page fetching: GET requests that wait in a nested event loop, so the caller's window keeps
// handling its events while the answer is on its way.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace fetch {

inline constexpr qint64 PageLimit = 16 * 1024 * 1024;     // pages and interface answers
inline constexpr qint64 PictureLimit = 8 * 1024 * 1024;   // pictures and the avatar file

struct Result {
    bool ok = false;          // false: no answer (refused, unknown host, timeout, too large...)
    int status = 0;           // HTTP status of the final answer
    QByteArray body;          // the body, whatever the status
    QByteArray contentType;   // the Content-Type header as sent
    QString error;            // why ok is false
};

// Wait for connecting and for a stalled transfer, in milliseconds (default 30 s).
void setTimeout(int ms);
int timeout();

// GET url with "If-Modified-Since: 0", following at most 10 redirects. Only http and https
// addresses are requested; a body longer than maxBytes is a failure.
Result get(const QString &url, qint64 maxBytes = PageLimit);

// Decodes a body by the charset the answer declares: the Content-Type header, else a
// byte-order mark, else the page's own meta declaration, else UTF-8.
QString decode(const QByteArray &body, const QByteArray &contentType);

// Saves the resource at url to target. The bytes go to a temporary file beside target that
// replaces it only when complete, so a failed download leaves the old file untouched.
bool downloadToFile(const QString &url, const QString &target, qint64 maxBytes = PictureLimit);

}  // namespace fetch

// The page as text, or no value when the request could not be made or answered.
// An empty body is an empty text, not a failure.
std::optional<QString> GetBody(const QString &URL);
