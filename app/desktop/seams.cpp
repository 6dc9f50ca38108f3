#include "desktop/seams.h"

#include <QAbstractButton>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDesktopServices>
#include <QFileDialog>
#include <QHeaderView>
#include <QTreeView>
#include <QMessageBox>
#include <QPointer>
#include <QUrl>
#include <cstdio>
#include <cstdlib>

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
    QFileDialog dialog(parent, title, suggested, QStringLiteral("视频文件 (*.mp4 *.flv);;所有文件 (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
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
void notifyDesktop(const QString &summary, const QString &body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString service = QStringLiteral("org.freedesktop.Notifications");
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(service))
        return;
    QDBusInterface notifications(service, QStringLiteral("/org/freedesktop/Notifications"), service, bus);
    notifications.asyncCall(QStringLiteral("Notify"), QStringLiteral("QuorvinAPP视频助手"), 0u,
        QStringLiteral("quorvin-video-helper"), summary, body, QStringList(), QVariantMap(), -1);
}

}  // namespace

std::unique_ptr<QMessageBox> buildMessageBox(QWidget *parent, const MessageRequest &request)
{
    auto box = std::make_unique<QMessageBox>(parent);
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
    s.closeMessageBox = [] {
        if (g_openBox)
            g_openBox->done(QMessageBox::No);
    };
    s.notify = notifyDesktop;
    s.endNow = [] {
        std::fflush(nullptr);
        std::_Exit(0);
    };
    return s;
}
