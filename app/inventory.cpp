// Creates every control of the window at its place, with its caption, look and first state.
#include "alpha_image.h"
#include "form1.h"
#include "sites.h"
#include "media_player.h"

#include <QCursor>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>

namespace {

template <typename T>
T *place(QWidget *parent, const char *name, int x, int y, int w, int h)
{
    auto *widget = new T(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

QLabel *label(QWidget *parent, const char *name, int x, int y, int w, int h, const QString &text,
              const QColor &colour = QColor(0, 0, 0))
{
    auto *l = place<QLabel>(parent, name, x, y, w, h);
    l->setTextFormat(Qt::PlainText);
    l->setText(text);
    l->setAttribute(Qt::WA_TranslucentBackground);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, colour);
    l->setPalette(pal);
    return l;
}

AlphaImage *alpha(QWidget *parent, const char *name, int x, int y, int w, int h, const char *picture)
{
    auto *a = place<AlphaImage>(parent, name, x, y, w, h);
    a->setPictureResource(QString::fromLatin1(":/assets/") + QString::fromLatin1(picture));
    return a;
}

QLabel *paintSource(QWidget *parent, const char *name, int x, int y, int w, int h, const char *picture)
{
    auto *l = place<QLabel>(parent, name, x, y, w, h);
    l->setPixmap(loadResourcePicture(QString::fromLatin1(":/assets/") + QString::fromLatin1(picture)));
    l->hide();
    return l;
}

}  // namespace

void Form1::buildControls()
{
    const QCursor hand(loadPng(QStringLiteral(":/assets/hand_cursor.png")), 9, 1);
    const QColor white(255, 255, 255);

    // Site selector.
    Frame1 = place<QGroupBox>(this, "Frame1", 24, 104, 329, 57);
    Frame1->setEnabled(false);
    Labe1[0] = label(Frame1, "Labe1_0", 8, 22, 60, 12, QStringLiteral("软件类型："));
    Labe1[0]->adjustSize();
    // Where each selector button sits; its caption is its service's.
    struct OptionPlace { int index, x, w; };
    const OptionPlace options[] = {{0, 72, 57}, {1, 120, 57}, {3, 168, 65}, {4, 216, 49}, {2, 264, 63}};
    for (const OptionPlace &o : options) {
        const QByteArray name = "Option1_" + QByteArray::number(o.index);
        auto *button = place<QRadioButton>(Frame1, name.constData(), o.x, 21, o.w, 17);
        button->setText(siteCaption(o.index));
        button->setCursor(hand);
        Option1[o.index] = button;
        connect(button, &QRadioButton::clicked, this, [this, i = o.index] { Option1_Click(i); });
    }
    Option1[0]->setChecked(true);

    // Address box.
    Frame2 = place<QGroupBox>(this, "Frame2", 24, 176, 329, 65);
    Labe1[1] = label(Frame2, "Labe1_1", 8, 27, 96, 12, QStringLiteral("请输入视频地址："));
    Labe1[1]->adjustSize();
    Text1 = place<QLineEdit>(Frame2, "Text1", 112, 24, 201, 18);
    Text1->setEnabled(false);
    Text1->setMouseTracking(true);
    Text1->installEventFilter(this);

    Command1 = place<QPushButton>(this, "Command1", 24, 248, 329, 41);
    Command1->setText(QStringLiteral("提取视频"));
    Command1->setEnabled(false);
    Web1 = new WebNavigator(this);
    Web1->setObjectName(QStringLiteral("Web1"));
    download_ = new Download(this);

    // Result area: avatar, name, badges, date, description.
    Image2 = place<QLabel>(this, "Image2", 32, 320, 65, 65);
    Image2->setScaledContents(true);
    aicAlphaImage3 = alpha(this, "aicAlphaImage3", 32, 320, 65, 65, "avatar_default.png");
    Label1 = label(this, "Label1", 112, 320, 63, 28, StartAuthorText);
    QFont nameFont(QStringLiteral("微软雅黑"));
    nameFont.setPointSizeF(15.75);
    nameFont.setBold(true);
    Label1->setFont(nameFont);
    Label1->adjustSize();
    Label3 = label(this, "Label3", 112, 352, 24, 12, StartDateText);
    Label3->adjustSize();
    Label2 = label(this, "Label2", 112, 368, 24, 12, StartDescriptionText);
    Label2->adjustSize();
    aicAlphaImage8 = alpha(this, "aicAlphaImage8", 184, 325, 22, 21, "badge_weishi.png");
    aicAlphaImage8->setToolTip(QStringLiteral("微视认证"));
    aicAlphaImage8->hide();
    aicAlphaImage4 = alpha(this, "aicAlphaImage4", 216, 326, 19, 19, "badge_miaopai.png");
    aicAlphaImage4->setToolTip(QStringLiteral("秒拍认证"));
    aicAlphaImage4->hide();

    Slider1 = place<QSlider>(this, "Slider1", 24, 408, 329, 25);
    Slider1->setOrientation(Qt::Horizontal);
    Slider1->setRange(0, 100);
    connect(Slider1, &QSlider::valueChanged, this, [this] { Slider1_Scroll(); });

    const struct { QPushButton **button; const char *name; int x; const char *caption; } buttons[] = {
        {&Command2, "Command2", 24, "下载视频"},
        {&Command3, "Command3", 104, "复制地址"},
        {&Command4, "Command4", 184, "播放视频"},
        {&Command5, "Command5", 264, "官方论坛"},
    };
    for (const auto &b : buttons) {
        *b.button = place<QPushButton>(this, b.name, b.x, 456, 81, 41);
        (*b.button)->setText(QString::fromUtf8(b.caption));
    }
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
    connect(Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });

    // Preview area, bottom to top: cover, frame, play symbols, player.
    Image1 = place<QLabel>(this, "Image1", 376, 104, 377, 397);
    Image1->setScaledContents(true);
    aicAlphaImage5 = alpha(this, "aicAlphaImage5", 376, 104, 380, 400, "preview_frame.png");
    aicAlphaImage5->setAttribute(Qt::WA_TransparentForMouseEvents);
    aicAlphaImage1 = alpha(this, "aicAlphaImage1", 376, 104, 377, 397, "play_idle.png");
    aicAlphaImage2 = alpha(this, "aicAlphaImage2", 376, 104, 377, 397, "play_highlight.png");
    aicAlphaImage2->hide();
    connect(aicAlphaImage1, &AlphaImage::MouseMove, this, [this] { aicAlphaImage1_MouseMove(); });
    connect(aicAlphaImage2, &AlphaImage::MouseLeave, this, [this] { aicAlphaImage2_MouseLeave(); });
    connect(aicAlphaImage2, &AlphaImage::MouseUp, this, [this] { aicAlphaImage2_MouseUp(); });
    // The player, its picture and its control bar stay inside the cover's frame: the bar
    // would otherwise reach over the status bar.
    W1 = place<MediaPlayerWidget>(this, "W1", 376, 104, 377, 397);

    // Status bar.
    Picture1 = place<QWidget>(this, "Picture1", 0, 520, 785, 73);
    Picture1->setAutoFillBackground(true);
    QPalette bar = Picture1->palette();
    bar.setColor(QPalette::Window, QColor(20, 178, 164));
    Picture1->setPalette(bar);
    Label4 = label(Picture1, "Label4", 16, 19, 61, 12, QStringLiteral("运行提示："), white);
    Label4->setAlignment(Qt::AlignCenter);
    Label5 = label(Picture1, "Label5", 120, 19, 144, 12, QStringLiteral("正在检测程序是否有更新.."), white);
    Label5->adjustSize();
    Label6 = label(Picture1, "Label6", 684, 19, 101, 12, QStringLiteral("Quorvin出品"), white);
    Label6->setAlignment(Qt::AlignCenter);
    for (auto [line, name, x] : {std::tuple{&Line2, "Line2", 104}, std::tuple{&Line3, "Line3", 680}}) {
        *line = place<QFrame>(Picture1, name, x, 0, 1, 57);
        (*line)->setAutoFillBackground(true);
        QPalette pal = (*line)->palette();
        pal.setColor(QPalette::Window, white);
        (*line)->setPalette(pal);
    }

    Label10 = label(this, "Label10", 642, 7, 48, 12, QStringLiteral("在线反馈"), FeedbackRest);
    Label10->setCursor(hand);
    Label10->setMouseTracking(true);
    Label10->installEventFilter(this);

    // Hidden paint sources of the self-drawn frame.
    Image8 = paintSource(this, "Image8", 24, 8, 347, 70, "logo.png");
    Image9 = paintSource(this, "Image9", 344, 8, 70, 60, "caption_buttons.png");
    Image10 = paintSource(this, "Image10", 504, -16, 13, 101, "frame_skin.png");

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
    Timer1->start();

    // The player, when shown, lies above everything, its control bar over the status bar.
    W1->raise();

    // A pointer over a control is not over the bare window surface.
    for (QWidget *child : findChildren<QWidget *>())
        child->setAttribute(Qt::WA_NoMousePropagation);
}
