#include "desktop/seams.h"

#include "notification_clicks.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QTreeView>
#include <QMessageBox>
#include <QPointer>
#include <QUrl>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace {
const QString NotificationService = QStringLiteral("org.freedesktop.Notifications");
const QString NotificationPath = QStringLiteral("/org/freedesktop/Notifications");
}  // namespace

NotificationClicks &NotificationClicks::instance()
{
    static NotificationClicks clicks;
    return clicks;
}

void NotificationClicks::expect(uint id, const std::function<void()> &onClick)
{
    if (!listening_)
        listening_ = QDBusConnection::sessionBus().connect(NotificationService, NotificationPath, NotificationService,
            QStringLiteral("ActionInvoked"), this, SLOT(invoked(uint, QString)));
    waiting_[id] = onClick;
}

void NotificationClicks::invoked(uint id, const QString &key)
{
    const auto it = waiting_.find(id);
    if (it == waiting_.end() || key != u"default")
        return;
    const std::function<void()> onClick = it->second;
    waiting_.erase(it);
    onClick();
}

namespace {

QPointer<QMessageBox> g_openBox;  // the box showBox is waiting on

int showBox(QWidget *parent, const MessageRequest &request)
{
    const std::unique_ptr<QMessageBox> box = buildMessageBox(parent, request);
    const QPointer<QMessageBox> outer = g_openBox;
    g_openBox = box.get();
    const int answer = box->exec();
    g_openBox = outer;
    switch (answer) {
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    case QMessageBox::Ok: return IDOK;
    default: return IDCANCEL;
    }
}

// The save dialog, at a size whose columns (name, size, type, date) can be read.
QString askSavePath(QWidget *parent, const QString &title, const QString &suggested)
{
    // The filter follows what is saved: a sound file's own type, else the videos.
    const QString ext = QFileInfo(suggested).suffix().toLower();
    const QString filter = ext == u"mp3" || ext == u"m4a" ? QStringLiteral("音频文件 (*.%1);;所有文件 (*)").arg(ext)
                                                          : QStringLiteral("视频文件 (*.mp4 *.flv);;所有文件 (*)");
    QFileDialog dialog(parent, title, suggested, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // A sound file never replaces one there: it takes "NAME (2).mp3", so nothing is asked.
    if (ext == u"mp3" || ext == u"m4a")
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setViewMode(QFileDialog::Detail);
    dialog.resize(820, 520);
    // Wide enough columns for a long Chinese name, a size, a type and a date with time.
    if (auto *view = dialog.findChild<QTreeView *>()) {
        const int widths[] = {330, 90, 110, 160};
        for (int column = 0; column < 4; ++column)
            view->header()->resizeSection(column, widths[column]);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

// A notification through the freedesktop service on the session bus, when one is there.
// Sends a notification; with onClick, its default action (a click on it) calls onClick.
void notifyDesktop(const QString &summary, const QString &body, const std::function<void()> &onClick)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(NotificationService))
        return;
    QDBusInterface notifications(NotificationService, NotificationPath, NotificationService, bus);
    const QStringList actions =
        onClick ? QStringList {QStringLiteral("default"), QStringLiteral("打开下载列表")} : QStringList();
    QDBusPendingCall call = notifications.asyncCall(QStringLiteral("Notify"), QStringLiteral("QuorvinAPP视频助手"), 0u,
        QStringLiteral("quorvin-video-helper"), summary, body, actions, QVariantMap(), -1);
    if (!onClick)
        return;
    // The notification's id comes with the answer; its ActionInvoked signal names it.
    auto *watcher = new QDBusPendingCallWatcher(call);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [onClick](QDBusPendingCallWatcher *w) {
        const QDBusPendingReply<uint> reply = *w;
        w->deleteLater();
        if (reply.isError())
            return;
        NotificationClicks::instance().expect(reply.value(), onClick);
    });
}

}  // namespace

namespace {

// One key, one answer: a key pressed before the box was shown, or within GuardMs of it, was
// meant for what was there before (a question that closed itself, the window) and answers
// nothing here.
class InputGuard : public QObject {
public:
    static constexpr int GuardMs = 300;
    explicit InputGuard(QMessageBox *box) : QObject(box), box_(box) { qApp->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == box_ && event->type() == QEvent::Show)
            shown_.start();
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride)
            return false;
        auto *widget = qobject_cast<QWidget *>(watched);
        if (!widget || (widget != box_ && !box_->isAncestorOf(widget)))
            return false;
        if (shown_.isValid() && shown_.elapsed() >= GuardMs)
            return false;
        event->accept();  // an accepted ShortcutOverride keeps the buttons' shortcuts from it too
        return true;
    }

private:
    QMessageBox *box_;
    QElapsedTimer shown_;
};

}  // namespace

std::unique_ptr<QMessageBox> buildMessageBox(QWidget *parent, const MessageRequest &request)
{
    auto box = std::make_unique<QMessageBox>(parent);
    new InputGuard(box.get());
    box->setWindowTitle(request.title);
    // A lone CR is a line break in the message, as on the system that wrote these texts.
    QString text = request.text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    box->setIcon(request.icon == BoxIcon::Warning ? QMessageBox::Warning : QMessageBox::Information);
    switch (request.buttons) {
    case BoxButtons::Ok: box->setStandardButtons(QMessageBox::Ok); break;
    case BoxButtons::YesNo: box->setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case BoxButtons::YesNoCancel:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box->setEscapeButton(QMessageBox::Cancel);
        break;
    }
    // Chinese button texts with their keyboard accelerators, also where Qt's own
    // translations are not installed.
    const std::pair<QMessageBox::StandardButton, const char *> texts[] = {{QMessageBox::Yes, "是(&Y)"},
        {QMessageBox::No, "否(&N)"}, {QMessageBox::Cancel, "取消"}, {QMessageBox::Ok, "确定"}};
    for (const auto &[which, label] : texts) {
        if (QAbstractButton *button = box->button(which))
            button->setText(QString::fromUtf8(label));
    }
    return box;
}

Seams Seams::system()
{
    Seams s;
    s.messageBox = showBox;
    s.openUrl = [](const QString &address) { QDesktopServices::openUrl(QUrl(address)); };
    s.saveFileName = askSavePath;
    s.chooseFolder = [](QWidget *parent, const QString &title, const QString &start) {
        return QFileDialog::getExistingDirectory(parent, title, start);
    };
    s.closeMessageBox = [] {
        if (g_openBox)
            g_openBox->done(QMessageBox::No);
    };
    s.notify = [](const QString &summary, const QString &body) { notifyDesktop(summary, body, {}); };
    s.notifyClickable = notifyDesktop;
    s.endNow = [] {
        std::fflush(nullptr);
        std::_Exit(0);
    };
    return s;
}
