// Shared test helpers: a loopback server answering from a table of routes, and test data.
#pragma once

#include "record/hosts.h"

#include "http_server.h"

#include <QByteArray>
#include <QColor>
#include <QSize>
#include <QHash>
#include <QString>

// Answers each request from the route whose key equals the request target (path with
// query), else the route of its path alone, else 404.
class RouteServer : public HttpServer {
public:
    RouteServer();
    void route(const QByteArray &target, const HttpResponse &response) { routes_[target] = response; }
    void route(const QByteArray &target, const QByteArray &body, const QByteArray &type = "text/html; charset=utf-8")
    {
        routes_[target] = HttpResponse::text(body, type);
    }
    QString url(const QByteArray &target) const { return base() + QString::fromUtf8(target); }
    // The targets requested so far, in order.
    QList<QByteArray> targets() const;

private:
    QHash<QByteArray, HttpResponse> routes_;
};

// A picture of one colour, encoded in the given format.
QByteArray encodedPicture(const QColor &colour, QSize size = QSize(24, 24), const char *format = "JPEG");

// size bytes of a repeating pattern that no off-by-one copy matches (a stand-in for a clip).
QByteArray patternBytes(qint64 size);

// A file of a description's folder ("meipai/examples/plain.html"), each {{VARIABLE}} in it
// replaced by that host of the table.
QString examplePage(const QString &path, const Hosts &h);
