#include "fixtures.h"

#include <QBuffer>
#include <QFile>
#include <QImage>

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

QString examplePage(const QString &path, const Hosts &h)
{
    QFile file(QStringLiteral(QUORVIN_SITES_DIR "/") + path);
    file.open(QIODevice::ReadOnly);
    QString text = QString::fromUtf8(file.readAll());
    for (auto it = h.variables.cbegin(); it != h.variables.cend(); ++it)
        text.replace(QStringLiteral("{{") + it.key() + QStringLiteral("}}"), it.value());
    return text;
}

QByteArray encodedPicture(const QColor &colour, QSize size, const char *format)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QByteArray patternBytes(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xff);
    return bytes;
}
