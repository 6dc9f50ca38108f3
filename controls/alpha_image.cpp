#include "controls/alpha_image.h"

#include "picture/picture.h"

#include <QCursor>
#include <QGuiApplication>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

namespace {
// The bits of the flags that are set, in the given order: 1, 2, 4.
template <typename Flags, typename Flag> int codeOf(Flags flags, std::initializer_list<Flag> order)
{
    int code = 0;
    int bit = 1;
    for (const Flag flag : order) {
        if (flags & flag)
            code |= bit;
        bit <<= 1;
    }
    return code;
}

int buttonCode(Qt::MouseButtons buttons)
{
    return codeOf(buttons, {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton});
}

int shiftCode(Qt::KeyboardModifiers mods)
{
    return codeOf(mods, {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier});
}
}  // namespace

AlphaImage::AlphaImage(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoMousePropagation);
    setMouseTracking(true);
}

QPixmap loadPng(const QString &path)
{
    // The program's own pictures are PNG: read as such, without asking every image plugin
    // whether it knows the file (which loads them all, and the JPEG library, at start-up).
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

QPixmap loadResourcePicture(const QString &path)
{
    if (qApp && qGuiApp->devicePixelRatio() > 1.0) {
        QString sharp = path;
        sharp.insert(sharp.lastIndexOf(u'.'), QStringLiteral("@2x"));
        QPixmap pixmap = loadPng(sharp);
        if (!pixmap.isNull()) {
            pixmap.setDevicePixelRatio(2.0);
            return pixmap;
        }
    }
    return loadPng(path);
}

void AlphaImage::setPictureResource(const QString &path)
{
    pending_ = path;
    picture_ = QPixmap();
    update();
}

const QPixmap &AlphaImage::picture() const
{
    if (!pending_.isEmpty()) {
        picture_ = loadResourcePicture(pending_);
        pending_.clear();
    }
    return picture_;
}

void AlphaImage::setPicture(const QPixmap &picture)
{
    pending_.clear();
    picture_ = picture;
    update();
}

bool AlphaImage::LoadFromFile(const QString &path)
{
    const QImage image = LoadLocalPicture(path);
    if (image.isNull())
        return false;
    setPicture(QPixmap::fromImage(image));
    return true;
}

void AlphaImage::setLeft(double left)
{
    move(int(std::lround(left)), y());
}

void AlphaImage::paintEvent(QPaintEvent *)
{
    if (picture().isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(rect(), picture_);
}

void AlphaImage::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    emit MouseMove(buttonCode(event->buttons()), shiftCode(event->modifiers()), p.x(), p.y());
}

void AlphaImage::mousePressEvent(QMouseEvent *event)
{
    event->accept();
}

void AlphaImage::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    if (rect().contains(p))
        emit MouseUp(buttonCode(event->button()), shiftCode(event->modifiers()), p.x(), p.y());
}

void AlphaImage::leaveEvent(QEvent *)
{
    // Opening a modal box sends a leave event although the pointer has not moved: only a
    // pointer that is really outside the rectangle has left.
    if (rect().contains(mapFromGlobal(QCursor::pos())))
        return;
    emit MouseLeave();
}
