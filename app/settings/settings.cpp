#include "settings/settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <climits>
#include <map>
#include <optional>

namespace {

using K = Settings::Key;
const QList<Settings::Row> Table = {
    {K::SaveFolder, "download/folder", QString(), 0, -1, false, "the folder the last video was saved to"},
    {K::AtOnce, "list/at_once", 2, 1, Settings::MostAtOnce, false, "downloads running at once"},
    {K::ResumeAtStart, "list/resume_at_start", true, 0, -1, false,
        "unfinished downloads go on by themselves at the next start (else they come back paused)"},
    {K::KeepHistory, "list/keep_history", true, 0, -1, false, "finished downloads are kept in the history"},
    {K::HistoryShown, "list/history_shown", 10000, Settings::FewestShown, INT_MAX, false,
        "rows of history the list shows at most"},
    {K::Sidecars, "list/sidecars", false, 0, -1, false, "NAME.info.json and the cover beside each saved video"},
    {K::WatchClipboard, "list/watch_clipboard", false, 0, -1, false, "a share address copied anywhere is extracted"},
    {K::Connections, "network/connections", Settings::DefaultConnections, 1, Settings::MostConnections, false,
        "connections to one host at most"},
    {K::RateLimit, "network/rate_limit", QString(), 0, -1, true,
        "all downloads together stay under it (\"500K\", \"2M\"); empty for no limit"},
    {K::Proxy, "network/proxy", QString(), 0, -1, true,
        "the proxy every request goes through; empty for the environment's, \"无\" for none"},
    {K::ListGeometry, "list/geometry", QByteArray(), 0, -1, false, "the list window's size and place"},
    {K::FlvToMp4, "convert/flv_to_mp4", false, 0, -1, false, "a saved FLV is made into an MP4 beside it"},
    {K::EmbedTags, "convert/embed", false, 0, -1, false, "a converted file holds the author, description and cover"},
    {K::RemoveOriginal, "convert/remove_original", false, 0, -1, false,
        "the downloaded file is removed once its conversion passed its check"},
    {K::AuthorFolder, "works/author_folder", true, 0, -1, false,
        "an author's works are saved in a folder named after the author, inside the save folder"},
    {K::CheckFollowedAtStart, "works/check_at_start", false, 0, -1, false,
        "the followed authors are checked for new works once the window is shown"},
};

bool bounded(const Settings::Row &row)
{
    return row.low <= row.high;
}

// value as the setting's kind; no value when it cannot be one.
std::optional<QVariant> asKind(const Settings::Row &row, QVariant value)
{
    const QMetaType kind = row.fallback.metaType();
    if (kind.id() == QMetaType::QString && row.trimmed && value.canConvert<QString>())
        value = value.toString().trimmed();
    if (!value.canConvert(kind) || !value.convert(kind))
        return std::nullopt;
    return value;
}

}  // namespace

const QList<Settings::Row> &Settings::table()
{
    return Table;
}

const Settings::Row &Settings::row(Key key)
{
    for (const Row &s : Table) {
        if (s.key == key)
            return s;
    }
    Q_UNREACHABLE();
    return Table.first();
}

QString Settings::file()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
        QStringLiteral("/quorvin-video-helper/quorvin-video-helper.conf");
}

Settings::Settings()
{
    // One set of values per file (a test changes the configuration folder between windows),
    // kept for the whole run.
    static std::map<QString, SettingsValues *> byFile;
    SettingsValues *&values = byFile[file()];
    if (!values)
        values = new SettingsValues(file());
    values_ = values;
}

QVariant Settings::value(Key key) const
{
    return values_->value(key);
}

bool Settings::set(Key key, const QVariant &value)
{
    return values_->set(key, value);
}

QString Settings::saveFolder() const
{
    const QString remembered = value(Key::SaveFolder).toString();
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    for (const QString &folder : {remembered, downloads}) {
        if (!folder.isEmpty() && QFileInfo(folder).isDir())
            return folder;
    }
    return QDir::homePath();
}

bool Settings::hasSaveFolder() const
{
    const QString remembered = value(Key::SaveFolder).toString();
    return !remembered.isEmpty() && QFileInfo(remembered).isDir();
}

SettingsValues::SettingsValues(const QString &file) : file_(file)
{
    const QSettings saved(file_, QSettings::IniFormat);
    for (const Settings::Row &row : Settings::table()) {
        // A value of the wrong kind reads as the default; a number out of bounds as the bound.
        QVariant v = asKind(row, saved.value(QLatin1String(row.name), row.fallback)).value_or(row.fallback);
        if (bounded(row))
            v = qBound(row.low, v.toInt(), row.high);
        values_.insert(int(row.key), v);
    }
}

bool SettingsValues::set(Settings::Key key, const QVariant &value)
{
    const Settings::Row &row = Settings::row(key);
    const std::optional<QVariant> v = asKind(row, value);
    if (!v || (bounded(row) && (v->toInt() < row.low || v->toInt() > row.high)))
        return false;
    if (values_.value(int(key)) == *v)
        return true;
    values_.insert(int(key), *v);
    QSettings saved(file_, QSettings::IniFormat);
    saved.setValue(QLatin1String(row.name), *v);
    saved.sync();
    emit changed(key);
    return true;
}
