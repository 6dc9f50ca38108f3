#include "download_list/list_window.h"

#include "convert/conversion.h"
#include "desktop/seams.h"
#include "downloads/download_list.h"
#include "downloads/download_rows.h"
#include "row_painter.h"
#include "settings/settings.h"
#include "settings_dialog/settings_dialog.h"

#include <QAccessible>
#include <QCheckBox>
#include <functional>
#include <QClipboard>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QLabel>
#include <QUrl>
#include <QVBoxLayout>

ListWindow::ListWindow(DownloadList &list, Settings &settings, const Seams &seams, QWidget *parent)
    : QWidget(parent, Qt::Window), list_(list), settings_(settings), seams_(seams),
      filterModel_(new DownloadFilter(this)), filter_(new QLineEdit(this)),
      onlyFailed_(new QCheckBox(QStringLiteral("只看失败"), this)),
      retryAll_(new QPushButton(QStringLiteral("全部重试"), this)),
      clearDone_(new QPushButton(QStringLiteral("清除已完成"), this)),
      settingsButton_(new QPushButton(QStringLiteral("设置"), this)), view_(new QListView(this)),
      notice_(new QLabel(this))
{
    setObjectName(QStringLiteral("DownloadList"));
    setWindowTitle(QStringLiteral("下载列表"));
    filter_->setPlaceholderText(QStringLiteral("筛选: 描述、作者、文件名或地址"));
    filter_->setClearButtonEnabled(true);
    filter_->setAccessibleName(QStringLiteral("筛选"));
    filterModel_->setSourceModel(list_.rows());
    view_->setModel(filterModel_);
    view_->setItemDelegate(new RowPainter(list_.rows(), &list_.thumbnails(), filterModel_, view_));
    view_->setUniformItemSizes(true);
    view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view_->setResizeMode(QListView::Adjust);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setContextMenuPolicy(Qt::CustomContextMenu);
    view_->setAccessibleName(QStringLiteral("下载列表"));
    auto *bar = new QHBoxLayout;
    bar->addWidget(filter_, 1);
    for (QWidget *w : std::initializer_list<QWidget *> {onlyFailed_, retryAll_, clearDone_, settingsButton_})
        bar->addWidget(w);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(view_, 1);
    notice_->setTextFormat(Qt::PlainText);
    notice_->hide();
    layout->addWidget(notice_);
    connect(&list_, &DownloadList::notice, this, [this](const QString &text) {
        notice_->setText(text);
        notice_->setVisible(!text.isEmpty());
    });
    // A row that ends (done, failed) is told to a screen reader: its name changed.
    connect(&list_, &DownloadList::ended, this, [this](qint64 id) {
        if (!QAccessible::isActive())
            return;
        const int at = list_.rows()->rowOf(id);
        const QModelIndex shown = at < 0 ? QModelIndex() : filterModel_->mapFromSource(list_.rows()->index(at));
        if (!shown.isValid())
            return;
        QAccessibleEvent event(view_, QAccessible::NameChanged);
        event.setChild(shown.row());
        QAccessible::updateAccessibility(&event);
    });
    connect(filter_, &QLineEdit::textChanged, filterModel_, &DownloadFilter::setText);
    connect(onlyFailed_, &QCheckBox::toggled, filterModel_, &DownloadFilter::setOnlyFailed);
    connect(retryAll_, &QPushButton::clicked, &list_, &DownloadList::retryAllFailed);
    connect(clearDone_, &QPushButton::clicked, this, &ListWindow::askClearFinished);
    connect(settingsButton_, &QPushButton::clicked, this, &ListWindow::showSettings);
    connect(view_, &QListView::customContextMenuRequested, this, &ListWindow::showRowMenu);
    connect(view_, &QListView::doubleClicked, this, [this] { openFile(currentId(), false); });
    setAcceptDrops(true);
    view_->setAcceptDrops(false);
    view_->installEventFilter(this);
    // Narrow enough to sit beside the main window, wide enough for a state and a size.
    setMinimumSize(480, 240);
    resize(640, 420);
    if (!restoreGeometry(settings_.listGeometry()))
        resize(640, 420);
}

void ListWindow::present()
{
    list_.rows()->checkFiles();  // a file deleted or moved meanwhile shows as gone
    show();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

void ListWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls() || event->mimeData()->hasText())
        event->acceptProposedAction();
}

void ListWindow::dropEvent(QDropEvent *event)
{
    emit dropped(event->mimeData());
    event->acceptProposedAction();
}

void ListWindow::closeEvent(QCloseEvent *event)
{
    settings_.set(Settings::Key::ListGeometry, saveGeometry());
    QWidget::closeEvent(event);
}

qint64 ListWindow::currentId() const
{
    const DownloadRow *r = list_.rows()->at(filterModel_->mapToSource(view_->currentIndex()).row());
    return r ? r->entry.id : 0;
}

// The list's keys on the selected row: Space pauses or continues, Delete takes it off the
// list, Return opens its file (the menu key opens its menu, as the view does by itself).
// True when the key was the row's.
bool ListWindow::rowKey(QKeyEvent *event)
{
    const int key = event->key();
    if (event->modifiers() & ~Qt::KeypadModifier ||
        (key != Qt::Key_Space && key != Qt::Key_Delete && key != Qt::Key_Return && key != Qt::Key_Enter))
        return false;
    const qint64 id = currentId();
    const DownloadRow *row = id ? list_.rows()->row(id) : nullptr;
    if (!row)
        return false;
    const history::State shown = row->entry.state;
    if (!list_.stillAs(id, shown))
        return true;
    if (key == Qt::Key_Space && shown == history::State::Paused)
        list_.resume(id);
    else if (key == Qt::Key_Space)
        list_.pause(id);
    else if (key == Qt::Key_Delete)
        list_.remove(id);
    else
        openFile(id, false);
    return true;
}

void ListWindow::keyPressEvent(QKeyEvent *event)
{
    if (!rowKey(event))
        QWidget::keyPressEvent(event);
}

// The view would take Space (selection) and Return (editing) for itself: the row's keys go first.
bool ListWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == view_ && event->type() == QEvent::KeyPress && rowKey(static_cast<QKeyEvent *>(event)))
        return true;
    return QWidget::eventFilter(watched, event);
}

void ListWindow::openFile(qint64 id, bool folder)
{
    const DownloadRow *row = id ? list_.rows()->row(id) : nullptr;
    if (!row || !seams_.openUrl)
        return;
    const QFileInfo file(row->entry.file);
    seams_.openUrl(QUrl::fromLocalFile(folder ? file.absolutePath() : file.absoluteFilePath()).toString());
}

void ListWindow::copyLink(qint64 id)
{
    // The video link when there is one, else the share address (an extraction that failed).
    if (const DownloadRow *row = list_.rows()->row(id))
        QGuiApplication::clipboard()->setText(
            row->entry.video.link.isEmpty() ? row->entry.video.address : row->entry.video.link);
}

void ListWindow::askDeleteFile(qint64 id)
{
    const DownloadRow *row = list_.rows()->row(id);
    if (!row || !seams_.messageBox)
        return;
    // The question names every file that goes: the video (when it is this row's) and what the
    // row wrote beside it.
    QStringList names;
    for (const QString &path : list_.filesOf(id))
        names << QFileInfo(path).fileName();
    if (names.isEmpty())
        names << QFileInfo(row->entry.file).fileName();
    const QString text = QStringLiteral("是否删除文件 ") + names.join(QStringLiteral("、")) + QStringLiteral("?");
    if (seams_.messageBox(this, {text, windowTitle(), BoxIcon::Warning, BoxButtons::YesNo}) == IDYES)
        list_.deleteFile(id);
}

// A finished row's actions: its files opened, its conversions.
void ListWindow::addFinishedActions(QMenu *menu, const DownloadRow &finished)
{
    const qint64 id = finished.entry.id;
    const DownloadRow *row = &finished;
    // Each action first makes sure the row is still finished.
    const auto act = [this, id](const std::function<void()> &what) {
        return [this, id, what] {
            if (list_.stillAs(id, history::State::Done))
                what();
        };
    };
    menu->addAction(QStringLiteral("打开文件"), this, act([this, id] { openFile(id, false); }))
        ->setEnabled(!row->fileGone);
    menu->addAction(QStringLiteral("打开所在文件夹"), this, act([this, id] { openFile(id, true); }));
    // The other files the row holds (what a conversion was made from), each by its name.
    for (const QString &path : rowMediaFiles(*row)) {
        if (path == row->entry.file || !seams_.openUrl)
            continue;
        menu->addAction(QStringLiteral("打开 ") + QFileInfo(path).fileName(), this,
            act([this, path] { seams_.openUrl(QUrl::fromLocalFile(path).toString()); }));
    }
    // A file that plays everywhere, or its sound alone, made beside it.
    const bool removeAfter = settings_.removeOriginal();
    // A conversion the program's end cut short: offered again as it was asked.
    if (const std::optional<convert::Kind> wish = row->entry.convertTo;
        wish && !row->fileGone && !list_.converting(id)) {
        const bool soundOnly = !convert::soundTargetOf(row->entry.file).isEmpty();
        menu->addAction(QStringLiteral("重新转换"), this, act([this, id, kind = *wish, soundOnly, removeAfter] {
            list_.convert(id, kind, soundOnly || removeAfter);
        }));
    }
    if (!row->fileGone && QFileInfo(row->entry.file).suffix().toLower() == u"flv")
        menu->addAction(convert::kindCaption(convert::Kind::Mp4), this,
            act([this, id, removeAfter] { list_.convert(id, convert::Kind::Mp4, removeAfter); }));
    if (!row->fileGone && !convert::isSoundFileName(row->entry.file))
        menu->addAction(QStringLiteral("提取音频"), this,
            act([this, id, removeAfter] { list_.convert(id, convert::Kind::Mp3, removeAfter); }));
}

// The finished rows leave the history only after a 是, as 清除历史 asks.
void ListWindow::askClearFinished()
{
    const MessageRequest question {QStringLiteral("确定清除已完成的下载记录吗? 已下载的文件不会被删除。"),
        windowTitle(), BoxIcon::Warning, BoxButtons::YesNo};
    if (seams_.messageBox && seams_.messageBox(this, question) == IDYES)
        list_.clearFinished();
}

void ListWindow::showRowMenu(const QPoint &at)
{
    const qint64 id = currentId();
    const DownloadRow *row = id ? list_.rows()->row(id) : nullptr;
    if (!row || row->elsewhere)
        return;
    const history::State state = row->entry.state;
    const bool active = state == history::State::Waiting || state == history::State::Running;
    QMenu *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // Each action first makes sure the row is still what the menu was made for.
    const auto act = [this, id, state](const std::function<void()> &what) {
        return [this, id, state, what] {
            if (list_.stillAs(id, state))
                what();
        };
    };
    if (active)
        menu->addAction(QStringLiteral("暂停"), this, act([this, id] { list_.pause(id); }));
    if (state == history::State::Paused)
        menu->addAction(QStringLiteral("继续"), this, act([this, id] { list_.resume(id); }));
    if (active || state == history::State::Paused || state == history::State::Converting)
        menu->addAction(QStringLiteral("取消"), this, act([this, id] { list_.cancel(id); }));
    if (state == history::State::Failed || state == history::State::Cancelled)
        menu->addAction(QStringLiteral("重试"), this, act([this, id] { list_.retry(id); }));
    // A finished row whose file was deleted or moved: downloaded again on request.
    if (row->fileGone)
        menu->addAction(QStringLiteral("重新下载"), this, act([this, id] { list_.retry(id); }));
    menu->addSeparator();
    if (state == history::State::Done)
        addFinishedActions(menu, *row);
    // The video link when there is one, else the share address; the menu says which.
    menu->addAction(row->entry.video.link.isEmpty() ? QStringLiteral("复制分享地址") : QStringLiteral("复制视频地址"),
        this, [this, id] { copyLink(id); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("从列表中删除"), this, act([this, id] { list_.remove(id); }));
    if (state == history::State::Done)
        menu->addAction(QStringLiteral("删除文件"), this, act([this, id] { askDeleteFile(id); }))
            ->setEnabled(!row->fileGone);
    menu->popup(view_->viewport()->mapToGlobal(at));
}

// The settings: the list follows them as they change (DownloadList listens to them).
void ListWindow::showSettings()
{
    SettingsDialog dialog(settings_, seams_, this);
    // Nothing of the history goes without a 是.
    connect(&dialog, &SettingsDialog::clearHistory, this, [this, &dialog] {
        const MessageRequest question {QStringLiteral("确定清除全部下载历史吗? 已下载的文件不会被删除。"),
            windowTitle(), BoxIcon::Warning, BoxButtons::YesNo};
        if (seams_.messageBox && seams_.messageBox(&dialog, question) == IDYES)
            list_.clearHistory();
    });
    dialog.ask();
}
