// The habits of the desktop: Enter in the address box extracts, Tab walks the controls in
// the order of use, every control has a Chinese accessible name, a link dropped anywhere on
// the window becomes the address, and a pasted or dropped address selects its service.
#include "address_check.h"
#include "alpha_image.h"
#include "form1.h"
#include "hosts.h"
#include "media_player.h"
#include "sites.h"

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

namespace {

// The text a drag carries: its first link, or its plain text.
QString draggedText(const QMimeData *mime)
{
    if (!mime)
        return QString();
    if (mime->hasUrls() && !mime->urls().isEmpty())
        return mime->urls().first().toString();
    return mime->hasText() ? mime->text() : QString();
}

}  // namespace

void Form1::setupKeyboardAndDrops()
{
    // Typing or editing an address selects its service, as a paste does.
    connect(Text1, &QLineEdit::textEdited, this, [this](const QString &text) { selectSiteOf(text); });
    connect(Text1, &QLineEdit::returnPressed, this, [this] {
        if (Command1->isEnabled())
            Command1_Click();
    });

    // Top to bottom: the site selector, the address, 提取视频, the volume, then the actions
    // left to right. Tab enters the selector at its checked button and the arrows move the
    // choice, so only the checked button is in the Tab chain.
    QList<QWidget *> order = {Option1[0], Option1[1], Option1[2], Option1[3], Option1[4], Text1, Command1, Slider1,
        Command2, Command3, Command4, Command5};
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
        {Command5, "官方论坛"}, {Slider1, "音量"}, {Label1, "作者"}, {Label2, "视频描述"}, {Label3, "发布日期"},
        {Label5, "运行提示"}, {Label10, "在线反馈"}, {Image1, "视频封面"}, {Image2, "作者头像"},
        {aicAlphaImage1, "播放视频"}, {aicAlphaImage2, "播放视频"}, {aicAlphaImage3, "作者头像"},
        {aicAlphaImage4, "秒拍认证"}, {aicAlphaImage8, "微视认证"}, {W1, "视频播放器"}};
    for (const auto &[widget, name] : names)
        widget->setAccessibleName(QString::fromUtf8(name));
    for (int site = 0; site < SiteCount; ++site)
        Option1[site]->setAccessibleName(siteCaption(site));

    setAcceptDrops(true);
    Text1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Text1, &QLineEdit::customContextMenuRequested, this, &Form1::showAddressMenu);
}

void Form1::selectSiteOf(const QString &text)
{
    const int site = siteForAddress(text, hosts());
    if (site < 0 || Option1[site]->isChecked())
        return;
    Option1[site]->setChecked(true);
    Option1_Click(site);
}

bool Form1::acceptsDrop(const QMimeData *mime) const
{
    return Text1->isEnabled() && !draggedText(mime).trimmed().isEmpty();
}

bool Form1::pasteShareAddress(const QString &text)
{
    const QString address = shareAddressIn(text, hosts());
    if (address.isEmpty())
        return false;
    Text1->setText(address);
    Text1->end(false);  // a long address shows its end: the video id
    selectSiteOf(address);
    return true;
}

void Form1::showAddressMenu(const QPoint &at)
{
    QMenu *menu = Text1->createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // 粘贴 takes a share address alone, as Ctrl+V does. The standard menu's actions have no
    // names; 粘贴 is the one that shows the paste shortcut.
    const QString shortcut = u'\t' + QKeySequence(QKeySequence::Paste).toString(QKeySequence::NativeText);
    const QList<QAction *> actions = menu->actions();
    const auto found =
        std::find_if(actions.begin(), actions.end(), [&](const QAction *a) { return a->text().endsWith(shortcut); });
    if (found != actions.end()) {
        QAction *paste = *found;
        disconnect(paste, &QAction::triggered, nullptr, nullptr);
        connect(paste, &QAction::triggered, this, [this] {
            if (!pasteShareAddress(QGuiApplication::clipboard()->text())) {
                Text1->paste();
                selectSiteOf(Text1->text());
            }
        });
    }
    menu->popup(Text1->mapToGlobal(at));
}

void Form1::dropAddress(const QMimeData *mime)
{
    if (pasteShareAddress(draggedText(mime)))
        return;
    Text1->setText(droppedAddress(draggedText(mime)));
    Text1->end(false);
    selectSiteOf(Text1->text());
}

void Form1::dragEnterEvent(QDragEnterEvent *event)
{
    if (acceptsDrop(event->mimeData()))
        event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent *event)
{
    if (!acceptsDrop(event->mimeData()))
        return;
    dropAddress(event->mimeData());
    event->acceptProposedAction();
}
