#include "download_list/list_window.h"

#include "net/network_policy.h"

#include "net/proxy.h"
#include "net/rate_limit.h"

#include "desktop/seams.h"
#include "downloads/download_list.h"
#include "downloads/download_rows.h"
#include "row_painter.h"
#include "settings/settings.h"

#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QLabel>
#include <QMessageBox>
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
    filter_->setPlaceholderText(QStringLiteral("筛选: 描述、作者或文件名"));
    filter_->setClearButtonEnabled(true);
    filter_->setAccessibleName(QStringLiteral("筛选"));
    filterModel_->setSourceModel(list_.rows());
    view_->setModel(filterModel_);
    view_->setItemDelegate(new RowPainter(list_.rows(), filterModel_, view_));
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
    connect(filter_, &QLineEdit::textChanged, filterModel_, &DownloadFilter::setText);
    connect(onlyFailed_, &QCheckBox::toggled, filterModel_, &DownloadFilter::setOnlyFailed);
    connect(retryAll_, &QPushButton::clicked, &list_, &DownloadList::retryAllFailed);
    connect(clearDone_, &QPushButton::clicked, &list_, &DownloadList::clearFinished);
    connect(settingsButton_, &QPushButton::clicked, this, &ListWindow::showSettings);
    connect(view_, &QListView::customContextMenuRequested, this, &ListWindow::showRowMenu);
    connect(view_, &QListView::doubleClicked, this, [this] { openFile(currentId(), false); });
    setAcceptDrops(true);
    view_->setAcceptDrops(false);
    resize(640, 420);
    if (!restoreGeometry(settings_.listGeometry()))
        resize(640, 420);
}

void ListWindow::present()
{
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
    settings_.setListGeometry(saveGeometry());
    QWidget::closeEvent(event);
}

qint64 ListWindow::currentId() const
{
    const DownloadRow *r = list_.rows()->at(filterModel_->mapToSource(view_->currentIndex()).row());
    return r ? r->entry.id : 0;
}

void ListWindow::keyPressEvent(QKeyEvent *event)
{
    const qint64 id = currentId();
    const DownloadRow *row = id ? list_.rows()->row(id) : nullptr;
    if (!row) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Space: row->entry.state == history::State::Paused ? list_.resume(id) : list_.pause(id); return;
    case Qt::Key_Delete: list_.remove(id); return;
    case Qt::Key_Return:
    case Qt::Key_Enter: openFile(id, false); return;
    default: QWidget::keyPressEvent(event);
    }
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
    if (const DownloadRow *row = list_.rows()->row(id))
        QGuiApplication::clipboard()->setText(row->entry.link);
}

void ListWindow::askDeleteFile(qint64 id)
{
    const DownloadRow *row = list_.rows()->row(id);
    if (!row || !seams_.messageBox)
        return;
    const QString text = QStringLiteral("是否删除文件 ") + QFileInfo(row->entry.file).fileName() + QStringLiteral("?");
    if (seams_.messageBox(this, {text, windowTitle(), BoxIcon::Warning, BoxButtons::YesNo}) == IDYES)
        list_.deleteFile(id);
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
    if (active)
        menu->addAction(QStringLiteral("暂停"), this, [this, id] { list_.pause(id); });
    if (state == history::State::Paused)
        menu->addAction(QStringLiteral("继续"), this, [this, id] { list_.resume(id); });
    if (active || state == history::State::Paused)
        menu->addAction(QStringLiteral("取消"), this, [this, id] { list_.cancel(id); });
    if (state == history::State::Failed || state == history::State::Cancelled)
        menu->addAction(QStringLiteral("重试"), this, [this, id] { list_.retry(id); });
    menu->addSeparator();
    if (state == history::State::Done) {
        menu->addAction(QStringLiteral("打开文件"), this, [this, id] { openFile(id, false); });
        menu->addAction(QStringLiteral("打开所在文件夹"), this, [this, id] { openFile(id, true); });
    }
    menu->addAction(QStringLiteral("复制视频地址"), this, [this, id] { copyLink(id); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("从列表中删除"), this, [this, id] { list_.remove(id); });
    if (state == history::State::Done)
        menu->addAction(QStringLiteral("删除文件"), this, [this, id] { askDeleteFile(id); });
    menu->popup(view_->viewport()->mapToGlobal(at));
}

namespace {

// The network's part of the settings dialog: connections per host, 限速 and 代理.
struct NetworkFields {
    QSpinBox *connections;
    QLineEdit *rate;
    QLineEdit *proxy;

    NetworkFields(QDialog &dialog, const Settings &settings)
        : connections(new QSpinBox(&dialog)), rate(new QLineEdit(settings.rateLimit(), &dialog)),
          proxy(new QLineEdit(settings.proxy(), &dialog))
    {
        connections->setRange(1, Settings::MostConnections);
        connections->setValue(settings.connectionsPerHost());
        connections->setToolTip(QStringLiteral("服务器允许时，大文件分成几段同时下载；1 为不分段"));
        rate->setPlaceholderText(QStringLiteral("不限速 (例如 500K、2M)"));
        proxy->setPlaceholderText(QStringLiteral("使用环境变量 http_proxy 等"));
        proxy->setToolTip(QStringLiteral("http://主机:端口 或 socks5://主机:端口；填“无”不使用代理"));
        // Wide enough for the hints to be read whole.
        for (QLineEdit *field : {rate, proxy})
            field->setMinimumWidth(field->fontMetrics().horizontalAdvance(field->placeholderText()) + 24);
    }
    void addTo(QFormLayout *form) const
    {
        form->addRow(QStringLiteral("每个服务器的连接数:"), connections);
        form->addRow(QStringLiteral("限速:"), rate);
        form->addRow(QStringLiteral("代理:"), proxy);
    }
    // Says what cannot be used; false while something cannot.
    bool check(QWidget *parent) const
    {
        const std::optional<QString> chosen = fetch::NetworkPolicy::proxyField(proxy->text());
        if (!rate->text().trimmed().isEmpty() && fetch::parseRate(rate->text()) <= 0) {
            QMessageBox::warning(
                parent, QStringLiteral("下载设置"), QStringLiteral("限速的格式不对，例如 500K 或 2M。"));
            rate->setFocus();
            return false;
        }
        if (chosen && !fetch::proxyProblem(*chosen).isEmpty()) {
            QMessageBox::warning(parent, QStringLiteral("下载设置"),
                QStringLiteral("代理地址不对，例如 http://127.0.0.1:8080 或 socks5://127.0.0.1:1080。"));
            proxy->setFocus();
            return false;
        }
        return true;
    }
    void save(Settings &settings) const
    {
        settings.setConnectionsPerHost(connections->value());
        settings.setRateLimit(rate->text());
        settings.setProxy(proxy->text());
    }
};

}  // namespace

void ListWindow::showSettings()
{
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("下载设置"));
    auto *atOnce = new QSpinBox(&dialog);
    atOnce->setRange(1, DownloadQueue::MaxLimit);
    atOnce->setValue(settings_.downloadsAtOnce());
    auto *resume = new QCheckBox(QStringLiteral("启动时继续未完成的下载"), &dialog);
    resume->setChecked(settings_.resumeAtStart());
    auto *keep = new QCheckBox(QStringLiteral("保留下载历史"), &dialog);
    keep->setChecked(settings_.keepHistory());
    auto *sidecars = new QCheckBox(QStringLiteral("同时保存封面和视频信息"), &dialog);
    sidecars->setChecked(settings_.saveSidecars());
    sidecars->setToolTip(QStringLiteral("在视频旁保存封面和 .info.json 视频信息文件"));
    auto *watch = new QCheckBox(QStringLiteral("监视剪贴板"), &dialog);
    watch->setChecked(settings_.watchClipboard());
    watch->setToolTip(QStringLiteral(
        "复制的分享地址会自动提取(不会自动下载)。在 Wayland 下只有本程序窗口处于活动状态时才能看到剪贴板的变化。"));
    NetworkFields network(dialog, settings_);
    auto *shown = new QSpinBox(&dialog);
    shown->setRange(100, 100000);
    shown->setSingleStep(1000);
    shown->setValue(settings_.historyShown());
    auto *clear = new QPushButton(QStringLiteral("清除历史"), &dialog);
    connect(clear, &QPushButton::clicked, &list_, &DownloadList::clearHistory);
    auto *form = new QFormLayout(&dialog);
    form->addRow(QStringLiteral("同时下载:"), atOnce);
    form->addRow(resume);
    form->addRow(keep);
    form->addRow(sidecars);
    form->addRow(watch);
    network.addTo(form);
    form->addRow(QStringLiteral("显示最近的历史:"), shown);
    form->addRow(clear);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    // A rate or a proxy that cannot be used is said, and the dialog stays open.
    connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        if (network.check(&dialog))
            dialog.accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return;
    settings_.setDownloadsAtOnce(atOnce->value());
    settings_.setResumeAtStart(resume->isChecked());
    settings_.setKeepHistory(keep->isChecked());
    settings_.setHistoryShown(shown->value());
    settings_.setSaveSidecars(sidecars->isChecked());
    settings_.setWatchClipboard(watch->isChecked());
    network.save(settings_);
    list_.applySettings();
}
