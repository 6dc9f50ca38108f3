#include "settings/settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {
const QString SaveFolderKey = QStringLiteral("download/folder");

QVariant read(const QString &key, const QVariant &fallback)
{
    return QSettings(Settings::file(), QSettings::IniFormat).value(key, fallback);
}

void write(const QString &key, const QVariant &value)
{
    QSettings settings(Settings::file(), QSettings::IniFormat);
    settings.setValue(key, value);
}
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

int Settings::downloadsAtOnce() const
{
    return qBound(1, read(QStringLiteral("list/at_once"), 2).toInt(), 5);
}

void Settings::setDownloadsAtOnce(int n)
{
    write(QStringLiteral("list/at_once"), qBound(1, n, 5));
}

bool Settings::resumeAtStart() const
{
    return read(QStringLiteral("list/resume_at_start"), true).toBool();
}

void Settings::setResumeAtStart(bool on)
{
    write(QStringLiteral("list/resume_at_start"), on);
}

bool Settings::keepHistory() const
{
    return read(QStringLiteral("list/keep_history"), true).toBool();
}

void Settings::setKeepHistory(bool on)
{
    write(QStringLiteral("list/keep_history"), on);
}

int Settings::historyShown() const
{
    return qMax(100, read(QStringLiteral("list/history_shown"), 10000).toInt());
}

void Settings::setHistoryShown(int rows)
{
    write(QStringLiteral("list/history_shown"), qMax(100, rows));
}

QByteArray Settings::listGeometry() const
{
    return read(QStringLiteral("list/geometry"), QByteArray()).toByteArray();
}

void Settings::setListGeometry(const QByteArray &geometry)
{
    write(QStringLiteral("list/geometry"), geometry);
}

bool Settings::saveSidecars() const
{
    return read(QStringLiteral("list/sidecars"), false).toBool();
}

void Settings::setSaveSidecars(bool on)
{
    write(QStringLiteral("list/sidecars"), on);
}

bool Settings::watchClipboard() const
{
    return read(QStringLiteral("list/watch_clipboard"), false).toBool();
}

void Settings::setWatchClipboard(bool on)
{
    write(QStringLiteral("list/watch_clipboard"), on);
}

bool Settings::hasSaveFolder() const
{
    const QString remembered = read(SaveFolderKey, QString()).toString();
    return !remembered.isEmpty() && QFileInfo(remembered).isDir();
}
