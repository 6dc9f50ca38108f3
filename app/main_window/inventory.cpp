// Creates every control of the window at its place, with its caption, look and first state.
#include "controls/alpha_image.h"
#include "main_window/form1.h"

#include "address_box/address_box.h"
#include "sites/sites.h"
#include "controls/media_player.h"

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

template <typename T> T *place(QWidget *parent, const char *name, int x, int y, int w, int h)
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

// A hidden paint source of the self-drawn frame: its picture is decoded when the frame is
// first drawn (Form1::sourcePicture), not before the window is on the screen.
QLabel *paintSource(QWidget *parent, const char *name, int x, int y, int w, int h, const char *picture)
{
    auto *l = place<QLabel>(parent, name, x, y, w, h);
    l->setProperty(SourcePictureProperty, QString(QString::fromLatin1(":/assets/") + QString::fromLatin1(picture)));
    l->hide();
    return l;
}

// What a row of the inventory makes.
enum class Kind { Group, Label, WhiteLabel, Picture, Alpha, Source, Edit, Button, Selector, Slider, Bar, Line, Player };

// The window's controls in the order they are made (later ones lie above earlier ones), with
// their parent, place and size, and their text or picture.
struct Row {
    Kind kind;
    const char *name;
    const char *parent;  // nullptr: the window
    int x, y, w, h;
    const char *text;  // a caption, or for pictures the file under :/assets/
};

// The service selector's buttons left to right, keyed by service name: each one's left edge
// and width. The frame has room for these five.
struct SelectorPlace {
    const char *site;
    int x, w;
};
const SelectorPlace Selector[] = {
    {"weishi", 72, 57}, {"meipai", 120, 57}, {"weipai", 168, 65}, {"miaopai", 216, 49}, {"kuaishou", 264, 63}};

const Row Inventory[] = {
    {Kind::Group, "Frame1", nullptr, 24, 104, 329, 57, nullptr},
    {Kind::Label, "Labe1_0", "Frame1", 8, 22, 60, 12, "软件类型："},
    {Kind::Selector, "Option1", "Frame1", 0, 21, 0, 17, nullptr},
    {Kind::Group, "Frame2", nullptr, 24, 176, 329, 65, nullptr},
    {Kind::Label, "Labe1_1", "Frame2", 8, 27, 96, 12, "请输入视频地址："},
    {Kind::Edit, "Text1", "Frame2", 112, 24, 201, 18, nullptr},
    {Kind::Button, "Command1", nullptr, 24, 248, 329, 41, "提取视频"},
    {Kind::Picture, "Image2", nullptr, 32, 320, 65, 65, nullptr},
    {Kind::Alpha, "aicAlphaImage3", nullptr, 32, 320, 65, 65, "avatar_default.png"},
    {Kind::Label, "Label1", nullptr, 112, 320, 63, 28, nullptr},
    {Kind::Label, "Label3", nullptr, 112, 352, 24, 12, nullptr},
    {Kind::Label, "Label2", nullptr, 112, 368, 24, 12, nullptr},
    {Kind::Alpha, "aicAlphaImage8", nullptr, 184, 325, 22, 21, "badge_weishi.png"},
    {Kind::Alpha, "aicAlphaImage4", nullptr, 216, 326, 19, 19, "badge_miaopai.png"},
    {Kind::Slider, "Slider1", nullptr, 24, 408, 329, 25, nullptr},
    {Kind::Button, "Command2", nullptr, 24, 456, 81, 41, "下载视频"},
    {Kind::Button, "Command3", nullptr, 104, 456, 81, 41, "复制地址"},
    {Kind::Button, "Command4", nullptr, 184, 456, 81, 41, "播放视频"},
    {Kind::Button, "Command5", nullptr, 264, 456, 81, 41, "官方论坛"},
    // Preview area, bottom to top: cover, frame, play symbols, player.
    {Kind::Picture, "Image1", nullptr, 376, 104, 377, 397, nullptr},
    {Kind::Alpha, "aicAlphaImage5", nullptr, 376, 104, 380, 400, "preview_frame.png"},
    {Kind::Alpha, "aicAlphaImage1", nullptr, 376, 104, 377, 397, "play_idle.png"},
    {Kind::Alpha, "aicAlphaImage2", nullptr, 376, 104, 377, 397, "play_highlight.png"},
    // The player, its picture and its control bar stay inside the cover's frame: the bar
    // would otherwise reach over the status bar.
    {Kind::Player, "W1", nullptr, 376, 104, 377, 397, nullptr},
    {Kind::Bar, "Picture1", nullptr, 0, 520, 785, 73, nullptr},
    {Kind::WhiteLabel, "Label4", "Picture1", 16, 19, 61, 12, "运行提示："},
    {Kind::WhiteLabel, "Label5", "Picture1", 120, 19, 144, 12, "正在检测程序是否有更新.."},
    {Kind::WhiteLabel, "Label6", "Picture1", 684, 19, 101, 12, "Quorvin出品"},
    {Kind::Line, "Line2", "Picture1", 104, 0, 1, 57, nullptr},
    {Kind::Line, "Line3", "Picture1", 680, 0, 1, 57, nullptr},
    {Kind::Label, "Label10", nullptr, 642, 7, 48, 12, "在线反馈"},
    // Hidden paint sources of the self-drawn frame.
    {Kind::Source, "Image8", nullptr, 24, 8, 347, 70, "logo.png"},
    {Kind::Source, "Image9", nullptr, 344, 8, 70, 60, "caption_buttons.png"},
    {Kind::Source, "Image10", nullptr, 504, -16, 13, 101, "frame_skin.png"},
};

void paint(QWidget *widget, QPalette::ColorRole role, const QColor &colour)
{
    QPalette pal = widget->palette();
    pal.setColor(role, colour);
    widget->setPalette(pal);
}

// One button per service, named after its index ("Option1_3"), at its place on the selector;
// a service the selector has no place for gets a hidden button: its addresses still select it.
QWidget *selector(QWidget *parent, const Row &r)
{
    std::array<QRadioButton *, SiteCount> made {};
    const auto button = [&](int site, int x, int w) {
        made[site] = new QRadioButton(parent);
        made[site]->setObjectName(QString::fromLatin1(r.name) + u'_' + QString::number(site));
        made[site]->setGeometry(x, r.y, w, r.h);
    };
    for (const SelectorPlace &p : Selector) {
        if (const int site = siteFromName(QString::fromLatin1(p.site)); site >= 0)
            button(site, p.x, p.w);
    }
    for (int site = 0; site < SiteCount; ++site) {
        if (!made[site]) {
            button(site, 0, 0);
            made[site]->hide();
        }
    }
    return made[0];
}

QWidget *make(const Row &r, QWidget *parent)
{
    const QString text = r.text ? QString::fromUtf8(r.text) : QString();
    switch (r.kind) {
    case Kind::Group: return place<QGroupBox>(parent, r.name, r.x, r.y, r.w, r.h);
    case Kind::Label: return label(parent, r.name, r.x, r.y, r.w, r.h, text);
    case Kind::WhiteLabel: return label(parent, r.name, r.x, r.y, r.w, r.h, text, QColor(255, 255, 255));
    case Kind::Alpha: return alpha(parent, r.name, r.x, r.y, r.w, r.h, r.text);
    case Kind::Source: return paintSource(parent, r.name, r.x, r.y, r.w, r.h, r.text);
    case Kind::Edit: return place<QLineEdit>(parent, r.name, r.x, r.y, r.w, r.h);
    case Kind::Selector: return selector(parent, r);
    case Kind::Slider: return place<QSlider>(parent, r.name, r.x, r.y, r.w, r.h);
    case Kind::Player: return place<MediaPlayerWidget>(parent, r.name, r.x, r.y, r.w, r.h);
    case Kind::Button: {
        auto *button = place<QPushButton>(parent, r.name, r.x, r.y, r.w, r.h);
        button->setText(text);
        return button;
    }
    case Kind::Picture: {
        auto *shown = place<QLabel>(parent, r.name, r.x, r.y, r.w, r.h);
        shown->setScaledContents(true);
        return shown;
    }
    case Kind::Bar: {
        auto *bar = place<QWidget>(parent, r.name, r.x, r.y, r.w, r.h);
        bar->setAutoFillBackground(true);
        paint(bar, QPalette::Window, QColor(20, 178, 164));
        return bar;
    }
    case Kind::Line: {
        auto *line = place<QFrame>(parent, r.name, r.x, r.y, r.w, r.h);
        line->setAutoFillBackground(true);
        paint(line, QPalette::Window, QColor(255, 255, 255));
        return line;
    }
    }
    return nullptr;
}

template <typename T> void bind(const QWidget *window, T *&member, const char *name)
{
    member = window->findChild<T *>(QString::fromLatin1(name));
    Q_ASSERT(member);
}

}  // namespace

void Form1::buildControls()
{
    for (const Row &row : Inventory) {
        QWidget *parent = row.parent ? findChild<QWidget *>(QString::fromLatin1(row.parent)) : this;
        make(row, parent);
    }
    bindControls();
    setupDownloadList();
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    setFirstLook();
    connectControls();
    Timer1->start();
    // The player, when shown, lies above everything, its control bar over the status bar.
    W1->raise();
    // A pointer over a control is not over the bare window surface.
    for (QWidget *child : findChildren<QWidget *>())
        child->setAttribute(Qt::WA_NoMousePropagation);
}

void Form1::bindControls()
{
    bind(this, Frame1, "Frame1");
    bind(this, Frame2, "Frame2");
    bind(this, Labe1[0], "Labe1_0");
    bind(this, Labe1[1], "Labe1_1");
    for (int i = 0; i < SiteCount; ++i)
        Option1[i] = findChild<QRadioButton *>(QStringLiteral("Option1_%1").arg(i));
    bind(this, Text1, "Text1");
    const std::pair<QPushButton **, const char *> buttons[] = {{&Command1, "Command1"}, {&Command2, "Command2"},
        {&Command3, "Command3"}, {&Command4, "Command4"}, {&Command5, "Command5"}};
    for (const auto &[member, name] : buttons)
        bind(this, *member, name);
    const std::pair<QLabel **, const char *> labels[] = {{&Label1, "Label1"}, {&Label2, "Label2"}, {&Label3, "Label3"},
        {&Label4, "Label4"}, {&Label5, "Label5"}, {&Label6, "Label6"}, {&Label10, "Label10"}, {&Image1, "Image1"},
        {&Image2, "Image2"}, {&Image8, "Image8"}, {&Image9, "Image9"}, {&Image10, "Image10"}};
    for (const auto &[member, name] : labels)
        bind(this, *member, name);
    const std::pair<AlphaImage **, const char *> alphas[] = {{&aicAlphaImage1, "aicAlphaImage1"},
        {&aicAlphaImage2, "aicAlphaImage2"}, {&aicAlphaImage3, "aicAlphaImage3"}, {&aicAlphaImage4, "aicAlphaImage4"},
        {&aicAlphaImage5, "aicAlphaImage5"}, {&aicAlphaImage8, "aicAlphaImage8"}};
    for (const auto &[member, name] : alphas)
        bind(this, *member, name);
    bind(this, Picture1, "Picture1");
    bind(this, Line2, "Line2");
    bind(this, Line3, "Line3");
    bind(this, Slider1, "Slider1");
    bind(this, W1, "W1");
}

// Texts, fonts, cursors and first states that the inventory's rows do not carry.
void Form1::setFirstLook()
{
    const QCursor hand(loadPng(QStringLiteral(":/assets/hand_cursor.png")), 9, 1);
    Frame1->setEnabled(false);
    for (int i = 0; i < SiteCount; ++i) {
        Option1[i]->setText(siteCaption(i));  // each button's caption is its service's
        Option1[i]->setCursor(hand);
    }
    Option1[0]->setChecked(true);
    for (QLabel *l : {Labe1[0], Labe1[1], Label5})
        l->adjustSize();
    Text1->setEnabled(false);
    Text1->setMouseTracking(true);
    Command1->setEnabled(false);
    QFont nameFont(QStringLiteral("微软雅黑"));
    nameFont.setPointSizeF(15.75);
    nameFont.setBold(true);
    Label1->setFont(nameFont);
    setCaption(Label1, StartAuthorText);
    setCaption(Label3, StartDateText);
    setCaption(Label2, StartDescriptionText);
    aicAlphaImage8->setToolTip(QStringLiteral("微视认证"));
    aicAlphaImage4->setToolTip(QStringLiteral("秒拍认证"));
    for (QWidget *hidden : {static_cast<QWidget *>(aicAlphaImage8), static_cast<QWidget *>(aicAlphaImage4),
             static_cast<QWidget *>(aicAlphaImage2)})
        hidden->hide();
    Slider1->setOrientation(Qt::Horizontal);
    Slider1->setRange(0, 100);
    aicAlphaImage5->setAttribute(Qt::WA_TransparentForMouseEvents);
    Label4->setAlignment(Qt::AlignCenter);
    Label6->setAlignment(Qt::AlignCenter);
    paint(Label10, QPalette::WindowText, FeedbackRest);
    Label10->setCursor(hand);
    Label10->setMouseTracking(true);
}

void Form1::connectControls()
{
    for (int i = 0; i < SiteCount; ++i)
        connect(Option1[i], &QRadioButton::clicked, this, [this, i] { Option1_Click(i); });
    addressBox_ = new AddressBox(Text1, HintText, this);
    connect(addressBox_, &AddressBox::siteFound, this, &Form1::selectSite);
    watchClipboard();
    // Asked once the paste or drop has ended.
    connect(addressBox_, &AddressBox::manyAddresses, this, &Form1::offerAddresses, Qt::QueuedConnection);
    connect(addressBox_, &AddressBox::submitted, this, [this] {
        if (Command1->isEnabled())
            Command1_Click();
    });
    Label10->installEventFilter(this);
    connect(Slider1, &QSlider::valueChanged, this, [this] { Slider1_Scroll(); });
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
    connect(Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });
    connect(aicAlphaImage1, &AlphaImage::MouseMove, this, [this] { aicAlphaImage1_MouseMove(); });
    connect(aicAlphaImage2, &AlphaImage::MouseLeave, this, [this] { aicAlphaImage2_MouseLeave(); });
    connect(aicAlphaImage2, &AlphaImage::MouseUp, this, [this] { aicAlphaImage2_MouseUp(); });
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
}
