// The main window's ways to the download list: Ctrl+J, 下载视频's right-click menu and a click
// on the status line open it; the downloads of an earlier run come back once the window is
// usable; one notification when a batch has ended.
#include "main_window/form1.h"
#include "result_panel.h"
#include "works_window/followed_window.h"

#include "address_box/address_box.h"
#include "convert/conversion.h"
#include "downloads/batch_run.h"
#include "downloads/download_list.h"
#include "download_list/list_window.h"
#include "clipboard_watch.h"
#include "extract/address_check.h"
#include "extract/driver.h"
#include "extract/headless_view.h"
#include "history/history_store.h"
#include "record/hosts.h"

#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <utility>

void Form1::setupDownloadList()
{
    auto *shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_J), this);
    shortcut->setContext(Qt::ApplicationShortcut);
    connect(shortcut, &QShortcut::activated, this, &Form1::openDownloadList);
    Command2->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Command2, &QPushButton::customContextMenuRequested, this, [this](const QPoint &at) {
        auto *menu = new QMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addAction(
            QStringLiteral("打开下载列表"), QKeySequence(Qt::CTRL | Qt::Key_J), this, &Form1::openDownloadList);
        menu->addAction(
            QStringLiteral("关注的作者"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), this, &Form1::openFollowed);
        menu->addSeparator();
        for (const convert::KindRow &row : convert::KindTable) {
            if (row.soundOnly)
                menu->addAction(convert::kindCaption(row.kind), this, [this, kind = row.kind] { downloadAs(kind); });
        }
        menu->popup(Command2->mapToGlobal(at));
    });
    // A click on the status line while or after a download runs opens the list.
    Label5->installEventFilter(this);
}

void Form1::watchClipboard()
{
    auto *clipboard = new ClipboardWatch(Text1, Command1, this);
    connect(clipboard, &ClipboardWatch::addressCopied, this, &Form1::takeCopiedAddress);
    connect(this, &Form1::linkCopied, clipboard, &ClipboardWatch::copiedByWindow);
    connect(addressBox_, &AddressBox::typed, clipboard, &ClipboardWatch::typed);
}

DownloadList *Form1::downloads()
{
    if (downloads_.list)
        return downloads_.list;
    downloads_.list = session_->downloads();
    connect(downloads_.list, &DownloadList::progressed, this, &Form1::downloadProgress);
    connect(downloads_.list, &DownloadList::ended, this, &Form1::downloadFinished);
    connect(downloads_.list, &DownloadList::finished, this, &Form1::batchFinished);
    return downloads_.list;
}

void Form1::offerAddresses(const QStringList &addresses, const QString &text)
{
    const int answer = ask(QStringLiteral("找到 %1 个视频地址,全部加入下载列表?").arg(addresses.size()),
        BoxIcon::Information, BoxButtons::YesNo);
    if (answer != IDYES) {
        addressBox_->paste(text);  // the first address, as a paste always did
        return;
    }
    // The folder is asked once when none was ever chosen.
    Settings settings;
    if (!settings.hasSaveFolder() && seams.chooseFolder) {
        const QString folder = seams.chooseFolder(this, QStringLiteral("选择保存位置"), settings.saveFolder());
        if (folder.isEmpty())
            return;
        settings.set(Settings::Key::SaveFolder, folder);
    }
    downloads()->addAddresses(addresses);
    setDownloadStatus(QStringLiteral("已将 %1 个视频地址加入下载列表..").arg(addresses.size()));
}

void Form1::takeDroppedOnList(const QMimeData *mime)
{
    const QString text = AddressBox::textOfDrag(mime);
    const QStringList addresses = shareAddressesIn(text, hosts());
    if (addresses.isEmpty())
        return;
    // Asked after the drop has ended.
    QTimer::singleShot(0, this, [this, addresses, text] { offerAddresses(addresses, text); });
}

void Form1::takeCopiedAddress(const QString &address)
{
    if (addressBox_->paste(address))
        Command1_Click();
}

bool Form1::downloadAgain()
{
    const std::optional<history::Entry> saved =
        downloads()->savedVideo(result_->shown().video.site, result_->shown().video.id);
    if (result_->shown().video.site.isEmpty() || result_->shown().video.id.isEmpty() || !saved)
        return true;
    const QDateTime when = saved->finished.isValid() ? saved->finished : saved->started;
    const QString file = QFileInfo(saved->file).fileName() +
        (QFileInfo::exists(saved->file) ? QString() : QStringLiteral(" (文件已不在)"));
    const QString text = QStringLiteral("该视频已于 %1 下载过: %2 。是否再次下载?")
                             .arg(when.toString(QStringLiteral("yyyy-MM-dd")), file);
    return ask(text, BoxIcon::Information, BoxButtons::YesNo) == IDYES;
}

ListWindow *Form1::listWindowIfMade() const
{
    return findChild<ListWindow *>(QString(), Qt::FindDirectChildrenOnly);
}

ListWindow *Form1::downloadListWindow()
{
    if (ListWindow *made = listWindowIfMade())
        return made;
    auto *list = new ListWindow(*downloads(), downloads()->settings(), seams, this);
    connect(list, &ListWindow::dropped, this, &Form1::takeDroppedOnList);
    return list;
}

void Form1::openDownloadList()
{
    downloadListWindow()->present();
}

// One notification when the list is idle again: what it saved and what failed since.
void Form1::batchFinished(int saved, int failed)
{
    // A batch that saved nothing was told in its message box and its rows.
    if (saved == 0 || isActiveWindow() || (listWindowIfMade() && listWindowIfMade()->isActiveWindow()) ||
        (!seams.notify && !seams.notifyClickable))
        return;
    // One download: its file, as before; several: how many.
    const std::optional<history::Entry> last = downloads()->entry(downloads_.follow.followed());
    QString body =
        saved + failed == 1 && last ? QFileInfo(last->file).fileName() : QStringLiteral("已保存 %1 个视频").arg(saved);
    if (failed > 0 && saved + failed > 1)
        body += QStringLiteral(",%1 个失败").arg(failed);
    // A click on it opens the list.
    if (seams.notifyClickable)
        seams.notifyClickable(QStringLiteral("视频下载完毕"), body, [this] { openDownloadList(); });
    else
        seams.notify(QStringLiteral("视频下载完毕"), body);
}

void Form1::restoreDownloads()
{
    if (phase_.downloadsRestored)
        return;
    phase_.downloadsRestored = true;
    if (const QString aside = downloads()->movedAsideTo(); !aside.isEmpty())
        ask(QStringLiteral("下载历史已损坏,已另存为 ") + aside + QStringLiteral(" 并新建了下载历史。"),
            BoxIcon::Warning, BoxButtons::Ok);
    switch (downloads()->historyProblem()) {
    case history::Store::Problem::None: break;
    case history::Store::Problem::Newer:
        ask(QStringLiteral("下载历史属于更新的版本,本次不使用:下载列表只保存在内存中,关闭后不保留。"), BoxIcon::Warning,
            BoxButtons::Ok);
        break;
    case history::Store::Problem::NotRegular:
        ask(QStringLiteral("下载历史不是普通文件,本次不使用:下载列表只保存在内存中,关闭后不保留。"), BoxIcon::Warning,
            BoxButtons::Ok);
        break;
    case history::Store::Problem::ReadOnly:
        ask(QStringLiteral("下载历史是只读的:新的下载不会被记录。"), BoxIcon::Warning, BoxButtons::Ok);
        break;
    }
    downloads()->restore();
    // The followed authors' check at start (a setting, off unless chosen), after the window
    // is shown: a notification says what it found.
    if (downloads()->settings().value(Settings::Key::CheckFollowedAtStart).toBool())
        followedWindow()->checkAll();
}
