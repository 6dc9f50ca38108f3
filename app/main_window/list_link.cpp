// The main window's ways to the download list: Ctrl+J, 下载视频's right-click menu and a click
// on the status line open it; the downloads of an earlier run come back once the window is
// usable; one notification when a batch has ended.
#include "main_window/form1.h"

#include "download_list/download_list.h"
#include "download_list/list_window.h"
#include "extract/address_check.h"
#include "extract/driver.h"
#include "extract/headless_view.h"
#include "history/history_store.h"
#include "record/hosts.h"

#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>

void Form1::setupDownloadList()
{
    downloads_ = new DownloadList(settings_, history::Store::defaultPath(), this);
    connect(downloads_, &DownloadList::progressed, this, &Form1::downloadProgress);
    connect(downloads_, &DownloadList::ended, this, &Form1::downloadFinished);
    connect(downloads_, &DownloadList::batchEnded, this, &Form1::batchFinished);
    auto *shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_J), this);
    shortcut->setContext(Qt::ApplicationShortcut);
    connect(shortcut, &QShortcut::activated, this, &Form1::openDownloadList);
    Command2->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Command2, &QPushButton::customContextMenuRequested, this, [this](const QPoint &at) {
        auto *menu = new QMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addAction(
            QStringLiteral("打开下载列表"), QKeySequence(Qt::CTRL | Qt::Key_J), this, &Form1::openDownloadList);
        menu->popup(Command2->mapToGlobal(at));
    });
    // A click on the status line while or after a download runs opens the list.
    Label5->installEventFilter(this);
}

ListWindow *Form1::downloadListWindow()
{
    if (!listWindow_)
        listWindow_ = new ListWindow(*downloads_, settings_, seams, this);
    return listWindow_;
}

void Form1::openDownloadList()
{
    downloadListWindow()->present();
}

void Form1::batchFinished(int saved, int failed)
{
    // A batch that saved nothing was told in its message box and its rows.
    if (saved == 0 || isActiveWindow() || (listWindow_ && listWindow_->isActiveWindow()) ||
        (!seams.notify && !seams.notifyClickable))
        return;
    // One download: its file, as before; several: how many.
    const std::optional<history::Entry> last = downloads_->entry(lastDownload_);
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
    if (downloadsRestored_)
        return;
    downloadsRestored_ = true;
    if (const QString aside = downloads_->movedAsideTo(); !aside.isEmpty())
        ask(QStringLiteral("下载历史已损坏,已另存为 ") + aside + QStringLiteral(" 并新建了下载历史。"),
            BoxIcon::Warning, BoxButtons::Ok);
    // Each share address is extracted again on a record of its own, never the window's.
    downloads_->restore([this](const QString &address, const auto &done) {
        QTimer::singleShot(0, this, [address, done] {
            ExtractionResult record;
            HeadlessView view;
            view.site = siteForAddress(address, hosts());
            view.address = address;
            ExtractionDriver driver(record, view, hosts());
            const bool ok = view.site >= 0 && driver.run() == ExtractionOutcome::Extracted;
            done(ok ? record.ResultSlots[SlotVideoUrl] : QString(), view.status);
        });
    });
}
