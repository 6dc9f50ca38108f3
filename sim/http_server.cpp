#include "http_server.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

const qint64 MaxRequestHead = 64 * 1024;

QByteArray reasonFor(int status)
{
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    }
    return "Status";
}

// Applies a "bytes=a-b" range to a 200 answer, as media players ask for parts of a file.
void applyRange(const QByteArray &range, HttpResponse &response)
{
    if (response.status != 200 || !range.startsWith("bytes="))
        return;
    const QList<QByteArray> parts = range.mid(6).split('-');
    if (parts.size() != 2)
        return;
    const qint64 size = response.body.size();
    bool okStart = false;
    qint64 start = parts[0].toLongLong(&okStart);
    qint64 end = parts[1].isEmpty() ? size - 1 : parts[1].toLongLong();
    if (!okStart)
        return;
    if (start >= size) {
        response.status = 416;
        response.headers.append({"Content-Range", "bytes */" + QByteArray::number(size)});
        response.body.clear();
        return;
    }
    end = qMin(end, size - 1);
    response.status = 206;
    response.headers.append({"Content-Range", "bytes " + QByteArray::number(start) + "-" +
                                                  QByteArray::number(end) + "/" +
                                                  QByteArray::number(size)});
    response.body = response.body.mid(start, end - start + 1);
}

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
    applyRange(request.header("range"), response);
    const qint64 fullSize = response.body.size();
    QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + " " + reasonFor(response.status) + "\r\n";
    if (!response.contentType.isEmpty())
        out += "Content-Type: " + response.contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(fullSize) + "\r\n";
    out += "Accept-Ranges: bytes\r\nConnection: close\r\n";
    for (const auto &h : response.headers)
        out += h.first + ": " + h.second + "\r\n";
    out += "\r\n";
    if (request.method != "HEAD") {
        if (response.stallAfter >= 0)
            out += response.body.left(response.stallAfter);
        else if (response.closeAfter >= 0)
            out += response.body.left(response.closeAfter);
        else
            out += response.body;
    }
    socket->write(out);
    emit served(request, response.status, fullSize);
    if (response.stallAfter < 0)
        socket->disconnectFromHost();
}
