#include "settings/settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {
const QString SaveFolderKey = QStringLiteral("download/folder");
}  // namespace

QString Settings::file()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
        QStringLiteral("/quorvin-video-helper/quorvin-video-helper.conf");
}

QString Settings::saveFolder() const
{
    const QString remembered = QSettings(file(), QSettings::IniFormat).value(SaveFolderKey).toString();
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    for (const QString &folder : {remembered, downloads}) {
        if (!folder.isEmpty() && QFileInfo(folder).isDir())
            return folder;
    }
    return QDir::homePath();
}

void Settings::setSaveFolder(const QString &folder)
{
    QSettings settings(file(), QSettings::IniFormat);
    settings.setValue(SaveFolderKey, folder);
}
