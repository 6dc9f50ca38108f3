// Paints the window's pictures into PNG files. Run once after changing a picture:
//   QT_QPA_PLATFORM=offscreen ./make_assets <assets folder>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QDir>
#include <cstdio>

namespace {

const QColor Teal(20, 178, 164);
const QColor DarkTeal(12, 130, 120);

// Pictures are painted in the window's units; with a scale of 2 the same drawing fills
// twice as many pixels, for screens that show two pixels per unit ("name@2x.png").
int g_scale = 1;

QImage canvas(int w, int h)
{
    QImage image(w * g_scale, h * g_scale, QImage::Format_ARGB32);
    image.setDevicePixelRatio(g_scale);
    image.fill(Qt::transparent);
    return image;
}

bool save(const QImage &image, const QString &dir, const char *name)
{
    QString file = QString::fromLatin1(name);
    if (g_scale > 1)
        file.insert(file.lastIndexOf(u'.'), QStringLiteral("@%1x").arg(g_scale));
    const bool ok = image.save(dir + "/" + file, "PNG");
    std::printf("%s %dx%d %s\n", qPrintable(file), image.width(), image.height(), ok ? "written" : "FAILED");
    return ok;
}

// 13 x 101: columns 0-5 left corner, 6 stretch, 7-12 right corner; rows 0-87 top band,
// rows 68-95 side pieces (columns 0-2 and 10-12), rows 96-100 bottom band.
QImage frameSkin()
{
    QImage image = canvas(13, 101);
    image.fill(Qt::white);
    QPainter p(&image);
    QLinearGradient band(0, 0, 0, 88);
    band.setColorAt(0, Teal.lighter(115));
    band.setColorAt(1, Teal);
    p.fillRect(0, 0, 13, 88, band);
    p.fillRect(0, 0, 13, 1, DarkTeal);           // outline along the top
    p.fillRect(0, 0, 1, 88, DarkTeal);           // outer columns of the corners
    p.fillRect(12, 0, 1, 88, DarkTeal);
    p.fillRect(0, 68, 3, 28, Teal);              // side pieces
    p.fillRect(0, 68, 1, 28, DarkTeal);
    p.fillRect(10, 68, 3, 28, Teal);
    p.fillRect(12, 68, 1, 28, DarkTeal);
    p.fillRect(0, 96, 13, 5, Teal);              // bottom band
    p.fillRect(0, 100, 13, 1, DarkTeal);
    return image;
}

void drawCaptionCell(QPainter &p, QRect cell, QColor fill, bool close)
{
    p.fillRect(cell, fill);
    p.setPen(QPen(Qt::white, 2));
    const QPoint c = cell.center();
    if (close) {
        p.drawLine(c + QPoint(-5, -5), c + QPoint(5, 5));
        p.drawLine(c + QPoint(-5, 5), c + QPoint(5, -5));
    } else {
        p.drawLine(c + QPoint(-6, 4), c + QPoint(6, 4));
    }
}

// 70 x 60: columns 0-28 minimise, 29-69 close; rows of 20: normal, highlighted, pressed.
QImage captionButtons()
{
    QImage image = canvas(70, 60);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor normal(190, 200, 200);
    drawCaptionCell(p, QRect(0, 0, 29, 20), normal, false);
    drawCaptionCell(p, QRect(29, 0, 41, 20), normal, true);
    drawCaptionCell(p, QRect(0, 20, 29, 20), QColor(60, 140, 230), false);
    drawCaptionCell(p, QRect(29, 20, 41, 20), QColor(230, 60, 50), true);
    drawCaptionCell(p, QRect(0, 40, 29, 20), QColor(30, 80, 160), false);
    drawCaptionCell(p, QRect(29, 40, 41, 20), QColor(150, 30, 25), true);
    return image;
}

QImage logo()
{
    QImage image = canvas(347, 70);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    // A play mark in a rounded square, then the name.
    QPainterPath mark;
    mark.addRoundedRect(QRectF(4, 11, 48, 48), 10, 10);
    p.fillPath(mark, Qt::white);
    QPolygonF triangle;
    triangle << QPointF(21, 23) << QPointF(21, 47) << QPointF(41, 35);
    p.setBrush(Teal);
    p.setPen(Qt::NoPen);
    p.drawPolygon(triangle);
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(30);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(62, 0, 285, 70), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("QuorvinAPP视频助手"));
    return image;
}

// 385 x 405: a translucent veil with a ring and a play triangle at the centre.
QImage playOverlay(QColor symbol)
{
    QImage image = canvas(385, 405);
    image.fill(QColor(37, 37, 37, 64));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    const QPointF c(192.5, 202.5);
    p.setPen(QPen(symbol, 6));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, 52, 52);
    QPolygonF triangle;
    triangle << c + QPointF(-16, -28) << c + QPointF(-16, 28) << c + QPointF(30, 0);
    p.setPen(Qt::NoPen);
    p.setBrush(symbol);
    p.drawPolygon(triangle);
    return image;
}

QImage previewFrame()
{
    QImage image = canvas(380, 400);
    QPainter p(&image);
    p.setPen(QPen(QColor(200, 210, 210), 1));
    p.drawRect(0, 0, 379, 399);
    p.setPen(QPen(QColor(230, 236, 236), 1));
    p.drawRect(1, 1, 377, 397);
    return image;
}

QImage badge(int w, int h, QColor fill, QColor text)
{
    QImage image = canvas(w, h);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(fill);
    p.setPen(QPen(Qt::white, 1.5));
    p.drawEllipse(QRectF(1, 1, w - 2, h - 2));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(h - 7);
    font.setBold(true);
    p.setFont(font);
    p.setPen(text);
    p.drawText(QRect(0, 0, w, h), Qt::AlignCenter, QStringLiteral("V"));
    return image;
}

QImage defaultAvatar()
{
    QImage image = canvas(65, 65);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(225, 230, 230));
    p.drawRoundedRect(QRectF(0, 0, 65, 65), 6, 6);
    p.setBrush(QColor(170, 182, 182));
    p.drawEllipse(QRectF(21, 11, 23, 23));
    p.drawChord(QRectF(9, 38, 47, 46), 0, 180 * 16);
    return image;
}

QImage handCursor()
{
    QImage image = canvas(32, 32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath hand;
    hand.moveTo(9, 1);
    hand.cubicTo(11, 0, 13, 1, 13, 3);
    hand.lineTo(13, 12);
    hand.lineTo(22, 13.5);
    hand.cubicTo(25, 14, 26, 16, 25.5, 19);
    hand.lineTo(24, 27);
    hand.lineTo(11, 27);
    hand.lineTo(4, 18);
    hand.cubicTo(3, 16, 5, 14, 7, 15.5);
    hand.lineTo(9, 17.5);
    hand.lineTo(9, 3);
    hand.closeSubpath();
    p.setPen(QPen(Qt::black, 1.3));
    p.setBrush(Qt::white);
    p.drawPath(hand);
    return image;
}

QImage appIcon(int size = 128)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.scale(size / 128.0, size / 128.0);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath square;
    square.addRoundedRect(QRectF(4, 4, 120, 120), 24, 24);
    p.fillPath(square, Teal);
    QPolygonF triangle;
    triangle << QPointF(48, 34) << QPointF(48, 94) << QPointF(98, 64);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPolygon(triangle);
    return image;
}

}  // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    bool ok = true;
    // The program icon in the sizes of the desktop's icon theme.
    for (int size : {16, 32, 48, 64, 256}) {
        const QString name = QStringLiteral("icons/quorvin-video-helper-%1.png").arg(size);
        QDir(dir).mkpath(QStringLiteral("icons"));
        ok &= save(appIcon(size), dir, qPrintable(name));
    }
    for (g_scale = 1; g_scale <= 2; ++g_scale) {
        ok &= save(frameSkin(), dir, "frame_skin.png");
        ok &= save(captionButtons(), dir, "caption_buttons.png");
        ok &= save(logo(), dir, "logo.png");
        ok &= save(playOverlay(Qt::white), dir, "play_idle.png");
        ok &= save(playOverlay(QColor(228, 228, 228, 186)), dir, "play_highlight.png");
        ok &= save(previewFrame(), dir, "preview_frame.png");
        ok &= save(badge(22, 21, QColor(255, 140, 0), Qt::white), dir, "badge_weishi.png");
        ok &= save(badge(19, 19, QColor(250, 200, 20), QColor(120, 60, 0)), dir, "badge_miaopai.png");
        ok &= save(defaultAvatar(), dir, "avatar_default.png");
        ok &= save(handCursor(), dir, "hand_cursor.png");
    }
    g_scale = 1;
    ok &= save(appIcon(), dir, "quorvin-video-helper.png");
    return ok ? 0 : 1;
}
