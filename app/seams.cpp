#include "seams.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QAbstractButton>
#include <QMessageBox>
#include <QUrl>
#include <cstdio>
#include <cstdlib>

namespace {

int showBox(QWidget *parent, const MessageRequest &request)
{
    const std::unique_ptr<QMessageBox> box = buildMessageBox(parent, request);
    switch (box->exec()) {
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    case QMessageBox::Ok: return IDOK;
    default: return IDCANCEL;
    }
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
    case BoxButtons::Ok:
        box->setStandardButtons(QMessageBox::Ok);
        break;
    case BoxButtons::YesNo:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case BoxButtons::YesNoCancel:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box->setEscapeButton(QMessageBox::Cancel);
        break;
    }
    // Chinese button texts with their keyboard accelerators, also where Qt's own
    // translations are not installed.
    const std::pair<QMessageBox::StandardButton, const char *> texts[] = {
        {QMessageBox::Yes, "是(&Y)"}, {QMessageBox::No, "否(&N)"},
        {QMessageBox::Cancel, "取消"}, {QMessageBox::Ok, "确定"}};
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
    s.saveFileName = [](QWidget *parent, const QString &title, const QString &suggested) {
        return QFileDialog::getSaveFileName(parent, title, suggested,
                                            QStringLiteral("视频文件 (*.mp4 *.flv);;所有文件 (*)"));
    };
    s.endNow = [] {
        std::fflush(nullptr);
        std::_Exit(0);
    };
    return s;
}
