#include "fixtures.h"

#include <QFile>

RouteServer::RouteServer()
{
    listen();
    setHandler([this](const HttpRequest &request) {
        if (routes_.contains(request.target))
            return routes_.value(request.target);
        if (routes_.contains(request.path()))
            return routes_.value(request.path());
        return HttpResponse::notFound();
    });
}

QList<QByteArray> RouteServer::targets() const
{
    QList<QByteArray> out;
    for (const HttpRequest &r : requests())
        out.append(r.target);
    return out;
}

QString testDataPath(const QString &name)
{
    return QStringLiteral(QUORVIN_TEST_DATA "/") + name;
}

QByteArray testData(const QString &name)
{
    QFile file(testDataPath(name));
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}
