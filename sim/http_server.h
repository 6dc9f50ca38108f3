// A small HTTP/1.1 server on 127.0.0.1, used by the service simulator and by the tests.
// One answer per connection; the handler decides status, headers, body and how the answer
// misbehaves (delay, stall, close without answer).
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <functional>
#include <memory>

class QTcpServer;
class QTcpSocket;

struct HttpRequest {
    QByteArray method;
    QByteArray target;    // path with query
    QByteArray absolute;  // the whole address when asked as of a proxy ("GET http://host/path")
    QList<QPair<QByteArray, QByteArray>> headers;  // names in lower case
    quint16 localPort = 0;

    QByteArray header(const QByteArray &lowerName) const;
    QByteArray path() const;  // target without the query
};

struct HttpResponse {
    // Produces `length` bytes of a generated body starting at `offset`.
    using Source = std::function<QByteArray(qint64 offset, qint64 length)>;

    int status = 200;
    QByteArray contentType = "text/html; charset=utf-8";
    QList<QPair<QByteArray, QByteArray>> headers;  // further headers
    QByteArray body;
    Source source;           // when set: the body is generated, sourceSize bytes long,
    qint64 sourceSize = 0;   // and sent as fast as the peer reads it
    QByteArray raw;          // when set: sent as it stands instead of a built answer
    int delayMs = 0;         // wait before answering
    qint64 stallAfter = -1;  // send this many body bytes, then nothing more
    qint64 closeAfter = -1;  // send this many body bytes, then close the connection
    bool closeWithoutAnswer = false;
    bool chunked = false;       // chunked transfer coding instead of Content-Length
    bool omitLength = false;    // no Content-Length: the body ends when the connection does
    int trickleMs = 0;          // send the body one byte every trickleMs
    qint64 bytesPerSecond = 0;  // when set: the body goes out no faster than this
    // With bytesPerSecond: how many of the bytes wanted may go out now, shared by answers
    // (a host that holds all its connections together to one rate).
    std::function<qint64(qint64 want)> budget;
    bool keepOpen = false;              // leave the connection open after the answer
    bool ignoreRange = false;           // answer a Range request with the whole body (200)
    qint64 brokenChunkAt = -1;          // chunked: past this body offset, a chunk size line that is
    QByteArray brokenChunkSize = "zz";  // this instead of a number, then the rest unframed

    // A body of `size` bytes, each `fill`, generated as it is sent.
    static HttpResponse filled(qint64 size, char fill, const QByteArray &type = "application/octet-stream");

    static HttpResponse text(const QByteArray &body, const QByteArray &type = "text/html; charset=utf-8");
    static HttpResponse notFound();
    static HttpResponse redirect(const QByteArray &location);
};

class HttpServer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<HttpResponse(const HttpRequest &)>;

    explicit HttpServer(QObject *parent = nullptr);
    ~HttpServer() override;

    // Listens on 127.0.0.1; port 0 picks a free one. May be called for several ports.
    bool listen(quint16 port = 0);
    quint16 port() const;      // the first port listened on
    QString base() const;      // "http://127.0.0.1:<port>"
    QString hostPort() const;  // "127.0.0.1:<port>"

    void setHandler(Handler handler);
    const QList<HttpRequest> &requests() const { return requests_; }
    void clearRequests() { requests_.clear(); }

signals:
    void served(const HttpRequest &request, int status, qint64 bytes);

private:
    void accept(QTcpServer *server);
    void readRequest(QTcpSocket *socket);
    void respond(QTcpSocket *socket, const HttpRequest &request, HttpResponse response);

    QList<QTcpServer *> servers_;
    Handler handler_;
    QList<HttpRequest> requests_;
};
