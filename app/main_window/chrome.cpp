// The self-drawn frame: skin, caption buttons and logo, dragging by the top band, the
// caption buttons, and the feedback label's colours.
#include "main_window/form1.h"

#include "address_box/address_box.h"
#include "controls/alpha_image.h"
#include "record/hosts.h"

#include <QLabel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QWindow>
#include <utility>

namespace {

constexpr int DragBandBottom = 68;
constexpr int StripTop = 2;
constexpr int StripBottom = 22;

bool inStrip(int y)
{
    return y >= StripTop && y <= StripBottom;
}
// The column x = W - 51 belongs to the minimise button, which is tested first.
bool onMinimise(int x, int w)
{
    return x >= w - 80 && x <= w - 51;
}
bool onClose(int x, int w)
{
    return x >= w - 51 && x <= w - 10;
}

}  // namespace

void Form1::DrawMinimise(int row)
{
    chrome_.minimiseRow = row;
    update(width() - 80, 2, 29, 20);
}

void Form1::DrawClose(int row)
{
    chrome_.closeRow = row;
    update(width() - 51, 2, 41, 20);
}

void Form1::showEvent(QShowEvent *event)
{
    // A fresh repaint draws both buttons in their normal look.
    chrome_.minimiseRow = chrome_.closeRow = 0;
    QWidget::showEvent(event);
}

void Form1::changeEvent(QEvent *event)
{
    // Coming back from minimised (or any other state change) repaints the whole window:
    // the caption buttons are drawn normal, not as they looked when the state changed.
    if (event->type() == QEvent::WindowStateChange) {
        DrawMinimise(0);
        DrawClose(0);
    }
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        addressBox_->takeClipboardAddress();
    QWidget::changeEvent(event);
}

QPixmap Form1::sourcePicture(QLabel *source)
{
    if (source->pixmap().isNull())
        source->setPixmap(loadResourcePicture(source->property(SourcePictureProperty).toString()));
    return source->pixmap();
}

void Form1::paintEvent(QPaintEvent *)
{
    // The downloads, their history and the network policy are set up once the window is on
    // the screen (drawn once), before the version check's first request a second later.
    if (!std::exchange(chrome_.painted, true) && !downloads_.list)
        QTimer::singleShot(0, this, [this] { downloads(); });
    const int w = width();
    const int h = height();
    const QPixmap skin = sourcePicture(Image10);
    const QPixmap sprite = sourcePicture(Image9);
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    const struct {
        QRect to, from;
    } pieces[] = {
        {{0, 0, 6, 88}, {0, 0, 6, 88}},             // top-left corner
        {{6, 0, w - 12, 88}, {6, 0, 1, 88}},        // top band, stretched
        {{w - 6, 0, 6, 88}, {7, 0, 6, 88}},         // top-right corner
        {{0, 68, 3, h - 73}, {0, 68, 3, 28}},       // left side, stretched
        {{w - 3, 68, 3, h - 73}, {10, 68, 3, 28}},  // right side, stretched
        {{0, h - 5, 6, 5}, {0, 96, 6, 5}},          // bottom-left corner
        {{6, h - 5, w - 12, 5}, {6, 96, 1, 5}},     // bottom band, stretched
        {{w - 6, h - 5, 6, 5}, {7, 96, 6, 5}},      // bottom-right corner
    };
    // Source rectangles are in the pictures' units: a sharp (2x) picture has twice the pixels.
    auto source = [](const QPixmap &pixmap, const QRect &r) {
        const qreal s = pixmap.devicePixelRatio();
        return QRectF(r.x() * s, r.y() * s, r.width() * s, r.height() * s);
    };
    for (const auto &piece : pieces)
        p.drawPixmap(QRectF(piece.to), skin, source(skin, piece.from));
    p.drawPixmap(QRectF(w - 80, 2, 29, 20), sprite, source(sprite, QRect(0, chrome_.minimiseRow, 29, 20)));
    p.drawPixmap(QRectF(w - 51, 2, 41, 20), sprite, source(sprite, QRect(29, chrome_.closeRow, 41, 20)));
    p.drawPixmap(10, 12, sourcePicture(Image8));
}

void Form1::mousePressEvent(QMouseEvent *event)
{
    const int x = int(event->position().x());
    const int y = int(event->position().y());
    if (event->button() != Qt::LeftButton || y > DragBandBottom)
        return;
    if (inStrip(y) && onMinimise(x, width())) {
        DrawMinimise(40);
    } else if (inStrip(y) && onClose(x, width())) {
        DrawClose(40);
    } else {
        ++chrome_.dragRequests;
        if (QWindow *window = windowHandle())
            window->startSystemMove();  // the system moves the window until the release
    }
}

void Form1::mouseMoveEvent(QMouseEvent *event)
{
    const int x = int(event->position().x());
    const int y = int(event->position().y());
    // Row 20 of a caption button is its look under the pointer.
    const bool strip = inStrip(y);
    DrawMinimise(strip && onMinimise(x, width()) ? 20 : 0);
    DrawClose(strip && !onMinimise(x, width()) && onClose(x, width()) ? 20 : 0);
    addressBox_->showHintWhenEmpty();
    setLabel10Colour(FeedbackRest);
}

void Form1::mouseReleaseEvent(QMouseEvent *event)
{
    const int x = int(event->position().x());
    const int y = int(event->position().y());
    if (!inStrip(y))
        return;
    if (onMinimise(x, width()))
        showMinimized();
    else if (onClose(x, width()))
        close();  // the exit dialog may keep the window
}

void Form1::setLabel10Colour(const QColor &colour)
{
    QPalette pal = Label10->palette();
    pal.setColor(QPalette::WindowText, colour);
    Label10->setPalette(pal);
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && qobject_cast<QPushButton *>(watched)) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            static_cast<QPushButton *>(watched)->animateClick();
            return true;
        }
    }
    if (watched == Label10 && feedbackLabelEvent(event))
        return true;
    if ((watched == Label1 || watched == aicAlphaImage3) && event->type() == QEvent::MouseButtonRelease &&
        authorLink_ && authorLink_->isVisible()) {
        openShownAuthor();
        return true;
    }
    if (watched == Label5 && event->type() == QEvent::MouseButtonRelease && downloads_.follow.showing()) {
        openDownloadList();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// 在线反馈: its colours under the pointer, and the guestbook on a press.
bool Form1::feedbackLabelEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseMove: setLabel10Colour(FeedbackHover); return true;
    case QEvent::MouseButtonPress:
        setLabel10Colour(FeedbackPressed);
        launch(hosts().GuestbookUrl);
        return true;
    case QEvent::MouseButtonRelease: setLabel10Colour(FeedbackRest); return true;
    default: return false;
    }
}
