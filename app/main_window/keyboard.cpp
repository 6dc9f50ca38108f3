// The habits of the desktop: Tab walks the controls in the order of use, Enter presses a
// focused button, every control has a Chinese accessible name, a link dropped anywhere on the
// window goes to the address box, and an address there selects its service.
#include "extract/address_check.h"
#include "controls/alpha_image.h"
#include "main_window/form1.h"

#include "address_box/address_box.h"
#include "record/hosts.h"
#include "controls/media_player.h"
#include "sites/sites.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

void Form1::setupKeyboardAndDrops()
{
    // Top to bottom: the site selector, the address, 提取视频, the volume, then the actions
    // left to right. Tab enters the selector at its checked button and the arrows move the
    // choice, so only the checked button is in the Tab chain.
    QList<QWidget *> order(Option1.begin(), Option1.end());
    order << Text1 << Command1 << Slider1 << Command2 << Command3 << Command4 << Command5;
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);
    for (QRadioButton *option : Option1) {
        const auto follow = [option](
                                bool checked) { option->setFocusPolicy(checked ? Qt::StrongFocus : Qt::ClickFocus); };
        follow(option->isChecked());
        connect(option, &QRadioButton::toggled, this, follow);
    }
    // A click on 提取视频 leaves the focus in the address box; Tab still reaches the button.
    Command1->setFocusPolicy(Qt::TabFocus);
    // Return and Enter press a focused button, as Space does.
    for (QPushButton *button : {Command1, Command2, Command3, Command4, Command5})
        button->installEventFilter(this);

    const std::pair<QWidget *, const char *> names[] = {{Frame1, "软件类型"}, {Text1, "视频地址"},
        {Command1, "提取视频"}, {Command2, "下载视频"}, {Command3, "复制地址"}, {Command4, "播放视频"},
        {Command5, "官方论坛"}, {Slider1, "音量"}, {Label10, "在线反馈"}, {Image1, "视频封面"}, {Image2, "作者头像"},
        {aicAlphaImage1, "播放视频"}, {aicAlphaImage2, "播放视频"}, {aicAlphaImage3, "作者头像"},
        {aicAlphaImage4, "秒拍认证"}, {aicAlphaImage8, "微视认证"}, {W1, "视频播放器"}};
    for (const auto &[widget, name] : names)
        widget->setAccessibleName(QString::fromUtf8(name));
    // The labels that show what was extracted, and the status line, are read with their value.
    for (const auto &[label, readAs] : {std::pair {Label1, "作者"}, std::pair {Label2, "视频描述"},
             std::pair {Label3, "发布日期"}, std::pair {Label5, "运行提示"}}) {
        label->setProperty(ReadAsProperty, QString::fromUtf8(readAs));
        setCaption(label, label->text());
    }
    // The caption buttons are painted by the window (their mouse handling is the window's):
    // for the keyboard and a screen reader each is also a button, last in the Tab chain.
    const auto captionButton = [this](const char *name, const QRect &at) {
        auto *button = new QPushButton(this);
        button->setObjectName(QString::fromUtf8(name));
        button->setAccessibleName(QString::fromUtf8(name));
        button->setToolTip(QString::fromUtf8(name));
        button->setGeometry(at);
        button->setFocusPolicy(Qt::TabFocus);
        button->setAttribute(Qt::WA_TransparentForMouseEvents);
        button->setStyleSheet(QStringLiteral("QPushButton { background: transparent; border: none; }"
                                             "QPushButton:focus { border: 1px dotted #FFFFFF; }"));
        button->installEventFilter(this);  // Return and Enter press it, as Space does
        return button;
    };
    QPushButton *minimise = captionButton("最小化", QRect(width() - 80, 2, 29, 20));
    QPushButton *close = captionButton("关闭", QRect(width() - 51, 2, 41, 20));
    connect(minimise, &QPushButton::clicked, this, &QWidget::showMinimized);
    connect(close, &QPushButton::clicked, this, [this] { this->close(); });
    order = {Command5, minimise, close};
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);
    for (int site = 0; site < SiteCount; ++site)
        Option1[site]->setAccessibleName(siteCaption(site));

    setAcceptDrops(true);
}

void Form1::selectSite(int site)
{
    if (Option1[site]->isChecked())
        return;
    Option1[site]->setChecked(true);
    Option1_Click(site);
}

void Form1::dragEnterEvent(QDragEnterEvent *event)
{
    if (addressBox_->acceptsDrop(event->mimeData()))
        event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent *event)
{
    if (!addressBox_->acceptsDrop(event->mimeData()))
        return;
    addressBox_->drop(event->mimeData());
    event->acceptProposedAction();
}
