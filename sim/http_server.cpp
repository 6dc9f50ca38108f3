#include "http_server.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

const qint64 MaxRequestHead = qint64(64) * 1024;

QByteArray reasonFor(int status)
{
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 404: return "Not Found";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    }
    return "Status";
}

// Applies a "bytes=a-b" range to a 200 answer, as media players and resuming downloads ask
// for parts of a file: the answer becomes 206 (or 416) and start/length the part to send.
QByteArray headerOf(const HttpResponse &response, const QByteArray &lowerName)
{
    for (const auto &[name, value] : response.headers) {
        if (name.toLower() == lowerName)
            return value;
    }
    return {};
}

void applyRange(
    const QByteArray &range, const QByteArray &ifRange, HttpResponse &response, qint64 &start, qint64 &length)
{
    const qint64 size = length;
    if (response.status != 200 || response.ignoreRange || !range.startsWith("bytes="))
        return;
    // If-Range: the range only while the file is the one the validator names.
    if (!ifRange.isEmpty() && ifRange != headerOf(response, "etag") && ifRange != headerOf(response, "last-modified"))
        return;
    const QList<QByteArray> parts = range.mid(6).split('-');
    if (parts.size() != 2)
        return;
    bool okStart = false;
    const qint64 first = parts[0].toLongLong(&okStart);
    qint64 last = parts[1].isEmpty() ? size - 1 : parts[1].toLongLong();
    if (!okStart || first < 0)
        return;
    if (first >= size) {
        response.status = 416;
        response.headers.append({"Content-Range", "bytes */" + QByteArray::number(size)});
        length = 0;
        return;
    }
    last = qMin(last, size - 1);
    response.status = 206;
    response.headers.append({"Content-Range",
        "bytes " + QByteArray::number(first) + "-" + QByteArray::number(last) + "/" + QByteArray::number(size)});
    start = first;
    length = last - first + 1;
}

// Sends one answer's body as the peer takes it: generated bodies are never held whole, and
// a trickled body goes out one byte at a time.
class BodySender : public QObject {
public:
    BodySender(QTcpSocket *socket, HttpResponse response, qint64 start, qint64 length)
        : QObject(socket), socket_(socket), r_(std::move(response)), start_(start)
    {
        limit_ = length;
        if (r_.stallAfter >= 0)
            limit_ = qMin(limit_, r_.stallAfter);
        else if (r_.closeAfter >= 0)
            limit_ = qMin(limit_, r_.closeAfter);
        if (r_.trickleMs > 0) {
            auto *timer = new QTimer(this);
            connect(timer, &QTimer::timeout, this, [this] { send(1); });
            timer->start(r_.trickleMs);
        } else if (r_.bytesPerSecond > 0) {
            auto *timer = new QTimer(this);
            connect(timer, &QTimer::timeout, this, [this] {
                if (socket_->bytesToWrite() >= r_.bytesPerSecond)
                    return;
                const qint64 want = qMax<qint64>(1, r_.bytesPerSecond / 20);
                const qint64 n = r_.budget ? r_.budget(want) : want;
                if (n > 0)
                    send(n);
            });
            timer->start(50);
        } else {
            connect(socket_, &QTcpSocket::bytesWritten, this, [this] { pump(); });
            pump();
        }
    }

private:
    static constexpr qint64 Piece = qint64(64) * 1024;

    void pump()
    {
        while (!done_ && socket_->bytesToWrite() < 4 * Piece)
            send(Piece);
    }
    void send(qint64 n)
    {
        if (done_)
            return;
        n = qMin(n, limit_ - sent_);
        if (n > 0) {
            const qint64 from = start_ + sent_;
            QByteArray piece = r_.source ? r_.source(from, n) : r_.body.mid(from, n);
            sent_ += n;
            // Past a broken size line the bytes go out unframed.
            if (r_.chunked && !broken_) {
                broken_ = r_.brokenChunkAt >= 0 && from >= r_.brokenChunkAt && from > start_;
                piece = (broken_ ? r_.brokenChunkSize : QByteArray::number(piece.size(), 16)) + "\r\n" + piece +
                    (broken_ ? "" : "\r\n");
            }
            socket_->write(piece);
        }
        if (sent_ >= limit_)
            finish();
    }
    void finish()
    {
        done_ = true;
        if (r_.stallAfter >= 0 || r_.keepOpen)
            return;
        if (r_.chunked && r_.closeAfter < 0 && !broken_)
            socket_->write("0\r\n\r\n");
        socket_->disconnectFromHost();
    }

    QTcpSocket *socket_;
    HttpResponse r_;
    qint64 start_;
    qint64 limit_ = 0;
    qint64 sent_ = 0;
    bool done_ = false;
    bool broken_ = false;
};

}  // namespace

QByteArray HttpRequest::header(const QByteArray &lowerName) const
{
    for (const auto &h : headers) {
        if (h.first == lowerName)
            return h.second;
    }
    return {};
}

QByteArray HttpRequest::path() const
{
    const qsizetype q = target.indexOf('?');
    return q < 0 ? target : target.left(q);
}

HttpResponse HttpResponse::text(const QByteArray &body, const QByteArray &type)
{
    HttpResponse r;
    r.body = body;
    r.contentType = type;
    return r;
}

HttpResponse HttpResponse::filled(qint64 size, char fill, const QByteArray &type)
{
    HttpResponse r;
    r.contentType = type;
    r.sourceSize = size;
    r.source = [fill](qint64, qint64 length) { return QByteArray(length, fill); };
    return r;
}

HttpResponse HttpResponse::notFound()
{
    HttpResponse r;
    r.status = 404;
    r.body = "<html><body><h1>404 Not Found</h1></body></html>";
    return r;
}

HttpResponse HttpResponse::redirect(const QByteArray &location)
{
    HttpResponse r;
    r.status = 302;
    r.headers.append({"Location", location});
    r.body.clear();
    return r;
}

HttpServer::HttpServer(QObject *parent) : QObject(parent)
{
    handler_ = [](const HttpRequest &) { return HttpResponse::notFound(); };
}

HttpServer::~HttpServer() = default;

bool HttpServer::listen(quint16 port)
{
    auto *server = new QTcpServer(this);
    if (!server->listen(QHostAddress::LocalHost, port)) {
        delete server;
        return false;
    }
    connect(server, &QTcpServer::newConnection, this, [this, server] { accept(server); });
    servers_.append(server);
    return true;
}

quint16 HttpServer::port() const
{
    return servers_.isEmpty() ? 0 : servers_.first()->serverPort();
}

QString HttpServer::hostPort() const
{
    return QStringLiteral("127.0.0.1:%1").arg(port());
}

QString HttpServer::base() const
{
    return QStringLiteral("http://") + hostPort();
}

void HttpServer::setHandler(Handler handler)
{
    handler_ = std::move(handler);
}

void HttpServer::accept(QTcpServer *server)
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void HttpServer::readRequest(QTcpSocket *socket)
{
    if (socket->property("answered").toBool())
        return;
    QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0) {
        if (head.size() > MaxRequestHead)
            socket->abort();
        else
            socket->setProperty("head", head);
        return;
    }
    socket->setProperty("answered", true);

    HttpRequest request;
    request.localPort = socket->localPort();
    const QList<QByteArray> lines = head.left(end).split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    request.target = first.value(1);
    // Asked as of a proxy: answered here, as a proxy that reaches every host would.
    if (request.target.startsWith("http://")) {
        request.absolute = request.target;
        const qsizetype path = request.target.indexOf('/', 7);
        request.target = path < 0 ? QByteArray("/") : request.target.mid(path);
    }
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.append({lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed()});
    }
    requests_.append(request);

    HttpResponse response = handler_(request);
    if (response.delayMs > 0) {
        const QPointer<QTcpSocket> guard(socket);
        QTimer::singleShot(response.delayMs, this, [this, guard, request, response] {
            if (guard)
                respond(guard, request, response);
        });
        return;
    }
    respond(socket, request, std::move(response));
}

void HttpServer::respond(QTcpSocket *socket, const HttpRequest &request, HttpResponse response)
{
    if (response.closeWithoutAnswer) {
        socket->abort();
        return;
    }
    if (!response.raw.isEmpty()) {
        socket->write(response.raw);
        emit served(request, response.status, response.raw.size());
        if (!response.keepOpen && response.stallAfter < 0)
            socket->disconnectFromHost();
        return;
    }
    qint64 start = 0;
    qint64 length = response.source ? response.sourceSize : response.body.size();
    applyRange(request.header("range"), request.header("if-range"), response, start, length);
    QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + " " + reasonFor(response.status) + "\r\n";
    if (!response.contentType.isEmpty())
        out += "Content-Type: " + response.contentType + "\r\n";
    if (response.chunked)
        out += "Transfer-Encoding: chunked\r\n";
    else if (!response.omitLength)
        out += "Content-Length: " + QByteArray::number(length) + "\r\n";
    if (!response.ignoreRange)
        out += "Accept-Ranges: bytes\r\n";
    out += response.keepOpen ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    for (const auto &h : response.headers)
        out += h.first + ": " + h.second + "\r\n";
    out += "\r\n";
    socket->write(out);
    emit served(request, response.status, length);
    if (request.method == "HEAD") {
        socket->disconnectFromHost();
        return;
    }
    new BodySender(socket, std::move(response), start, length);
}
