#include "settings/settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {
const QString SaveFolderKey = QStringLiteral("download/folder");
const QString AtOnceKey = QStringLiteral("list/at_once");
const QString ResumeKey = QStringLiteral("list/resume_at_start");
const QString KeepHistoryKey = QStringLiteral("list/keep_history");
const QString HistoryShownKey = QStringLiteral("list/history_shown");
const QString GeometryKey = QStringLiteral("list/geometry");
const QString SidecarsKey = QStringLiteral("list/sidecars");
const QString WatchClipboardKey = QStringLiteral("list/watch_clipboard");
const QString ConnectionsKey = QStringLiteral("network/connections");
const QString RateLimitKey = QStringLiteral("network/rate_limit");
const QString ProxyKey = QStringLiteral("network/proxy");
constexpr int FewestShown = 100;
constexpr int DefaultConnections = 4;

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
    return qBound(1, read(AtOnceKey, 2).toInt(), MostAtOnce);
}

void Settings::setDownloadsAtOnce(int n)
{
    write(AtOnceKey, qBound(1, n, MostAtOnce));
}

bool Settings::resumeAtStart() const
{
    return read(ResumeKey, true).toBool();
}

void Settings::setResumeAtStart(bool on)
{
    write(ResumeKey, on);
}

bool Settings::keepHistory() const
{
    return read(KeepHistoryKey, true).toBool();
}

void Settings::setKeepHistory(bool on)
{
    write(KeepHistoryKey, on);
}

int Settings::historyShown() const
{
    return qMax(FewestShown, read(HistoryShownKey, 10000).toInt());
}

void Settings::setHistoryShown(int rows)
{
    write(HistoryShownKey, qMax(FewestShown, rows));
}

QByteArray Settings::listGeometry() const
{
    return read(GeometryKey, QByteArray()).toByteArray();
}

void Settings::setListGeometry(const QByteArray &geometry)
{
    write(GeometryKey, geometry);
}

bool Settings::saveSidecars() const
{
    return read(SidecarsKey, false).toBool();
}

void Settings::setSaveSidecars(bool on)
{
    write(SidecarsKey, on);
}

bool Settings::watchClipboard() const
{
    return read(WatchClipboardKey, false).toBool();
}

void Settings::setWatchClipboard(bool on)
{
    write(WatchClipboardKey, on);
}

int Settings::connectionsPerHost() const
{
    return qBound(1, read(ConnectionsKey, DefaultConnections).toInt(), MostConnections);
}

void Settings::setConnectionsPerHost(int n)
{
    write(ConnectionsKey, qBound(1, n, MostConnections));
}

QString Settings::rateLimit() const
{
    return read(RateLimitKey, QString()).toString().trimmed();
}

void Settings::setRateLimit(const QString &rate)
{
    write(RateLimitKey, rate.trimmed());
}

QString Settings::proxy() const
{
    return read(ProxyKey, QString()).toString().trimmed();
}

void Settings::setProxy(const QString &proxy)
{
    write(ProxyKey, proxy.trimmed());
}

bool Settings::hasSaveFolder() const
{
    const QString remembered = read(SaveFolderKey, QString()).toString();
    return !remembered.isEmpty() && QFileInfo(remembered).isDir();
}
