// What the window keeps and takes from the desktop: the save folder it remembers, an address
// handed in on the command line, and a share address waiting on the clipboard.
#include "address_check.h"
#include "form1.h"
#include "hosts.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>

namespace {
const QString SaveFolderKey = QStringLiteral("download/folder");
}  // namespace

QString Form1::settingsFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
        QStringLiteral("/quorvin-video-helper/quorvin-video-helper.conf");
}

QString Form1::saveFolder() const
{
    const QString remembered = QSettings(settingsFile(), QSettings::IniFormat).value(SaveFolderKey).toString();
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    for (const QString &folder : {remembered, downloads}) {
        if (!folder.isEmpty() && QFileInfo(folder).isDir())
            return folder;
    }
    return QDir::homePath();
}

void Form1::rememberSaveFolder(const QString &folder)
{
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.setValue(SaveFolderKey, folder);
}

void Form1::handInAddress(const QString &address)
{
    if (!pasteShareAddress(address)) {
        Text1->setText(address.trimmed());
        Text1->end(false);
    }
    extractWhenUsable_ = true;
    if (Command1->isEnabled())
        extractHandedInAddress();
}

void Form1::extractHandedInAddress()
{
    if (!extractWhenUsable_)
        return;
    extractWhenUsable_ = false;
    // After the current event: the window has finished becoming usable.
    QTimer::singleShot(0, this, [this] {
        if (Command1->isEnabled())
            Command1_Click();
    });
}

void Form1::takeClipboardAddress()
{
    if (!Text1->isEnabled() || !(Text1->text().isEmpty() || Text1->text() == HintText))
        return;
    // Only an address of a known service: any other link on the clipboard stays there.
    const QString text = QGuiApplication::clipboard()->text();
    if (siteForAddress(shareAddressIn(text, hosts()), hosts()) >= 0)
        pasteShareAddress(text);
}
