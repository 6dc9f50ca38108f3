#include "catalog.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

QByteArray simPicture(const QString &key, int width, int height)
{
    const QByteArray hash = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Md5);
    const auto byte = [&](int i) { return static_cast<unsigned char>(hash[i]); };
    const QColor from = QColor::fromHsv(byte(0) * 360 / 256, 120 + byte(1) % 100, 160 + byte(2) % 80);
    const QColor to = QColor::fromHsv((byte(0) * 360 / 256 + 60) % 360, 140, 90 + byte(3) % 60);
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, width, height);
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    p.fillRect(image.rect(), gradient);
    // A few soft circles so that pictures of different videos look different.
    for (int i = 0; i < 5; ++i) {
        QColor c = QColor::fromHsv((byte(4 + i) * 7) % 360, 80, 255, 90);
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        const int r = (byte(9 + i) % 40 + 15) * qMin(width, height) / 100;
        p.drawEllipse(QPoint(byte(i) * width / 256, byte(i + 5) * height / 256), r, r);
    }
    p.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return bytes;
}
