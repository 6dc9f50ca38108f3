// What the window remembers across runs, in one INI file under the user's configuration
// folder: the folder the last video was saved to, and the download list's settings.
//
// Every setting is one row of a table (its key in the file, its default, its bounds, what it
// means). The file is read once per run: every Settings of the same file shares the values
// read, a change is written through at once, and changed(key) tells whoever listens.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

class SettingsValues;

class Settings {
public:
    enum class Key {
        SaveFolder,            // where the save dialog starts (see saveFolder())
        AtOnce,                // how many downloads run at once
        ResumeAtStart,         // unfinished downloads go on by themselves at the next start
        KeepHistory,           // finished downloads are kept in the history
        HistoryShown,          // how many rows of history the list shows at most
        Sidecars,              // "同时保存封面和视频信息"
        WatchClipboard,        // "监视剪贴板"
        Connections,           // connections to one host at most
        RateLimit,             // "限速"
        Proxy,                 // "代理"
        ListGeometry,          // the list window's size and place
        FlvToMp4,              // "FLV 视频保存为 MP4"
        EmbedTags,             // "在视频文件中写入作者、简介和封面"
        RemoveOriginal,        // "转换后删除原文件"
        AuthorFolder,          // "作者的作品保存到以作者命名的文件夹"
        CheckFollowedAtStart,  // "启动时检查关注的作者"
    };
    // One setting, a row of the table.
    struct Row {
        Key key;
        const char *name;  // the key in the file
        QVariant fallback;
        int low = 0;  // bounds of a whole number; low > high: none
        int high = -1;
        bool trimmed = false;  // text saved without the white space around it
        const char *meaning = "";
    };
    static const QList<Row> &table();
    static const Row &row(Key key);

    static constexpr int MostAtOnce = 5;
    static constexpr int MostConnections = 6;
    static constexpr int DefaultConnections = 4;
    static constexpr int FewestShown = 100;

    // The file the settings live in ($XDG_CONFIG_HOME/quorvin-video-helper/...).
    static QString file();

    Settings();

    // A setting's value: what was saved, else its default.
    QVariant value(Key key) const;
    // Saves a setting. A whole number out of its bounds, or a value of the wrong kind, is
    // refused (false, nothing changed); text is saved trimmed. changed(key) follows a change.
    bool set(Key key, const QVariant &value);
    // What tells of changes: its changed(Settings::Key) signal.
    SettingsValues *notifier() const { return values_; }

    // Where the save dialog starts: the folder of the last saved video, else the user's
    // Downloads folder, else the home folder.
    QString saveFolder() const;
    // Whether the user chose the save folder (a video was saved, or a folder chosen).
    bool hasSaveFolder() const;
    int downloadsAtOnce() const { return value(Key::AtOnce).toInt(); }
    bool resumeAtStart() const { return value(Key::ResumeAtStart).toBool(); }
    bool keepHistory() const { return value(Key::KeepHistory).toBool(); }
    int historyShown() const { return value(Key::HistoryShown).toInt(); }
    bool saveSidecars() const { return value(Key::Sidecars).toBool(); }
    bool watchClipboard() const { return value(Key::WatchClipboard).toBool(); }
    int connectionsPerHost() const { return value(Key::Connections).toInt(); }
    // "500K", "2M"; empty for no limit.
    QString rateLimit() const { return value(Key::RateLimit).toString(); }
    // Empty to follow the environment's http_proxy and the like, "无" for none.
    QString proxy() const { return value(Key::Proxy).toString(); }
    QByteArray listGeometry() const { return value(Key::ListGeometry).toByteArray(); }
    bool flvToMp4() const { return value(Key::FlvToMp4).toBool(); }
    bool embedTags() const { return value(Key::EmbedTags).toBool(); }
    bool removeOriginal() const { return value(Key::RemoveOriginal).toBool(); }

private:
    SettingsValues *values_;  // shared by every Settings of the file
};

// The values of one settings file, read once; its changed signal is Settings::notifier's.
class SettingsValues : public QObject {
    Q_OBJECT
public:
    explicit SettingsValues(const QString &file);
    QVariant value(Settings::Key key) const { return values_.value(int(key)); }
    bool set(Settings::Key key, const QVariant &value);

signals:
    void changed(Settings::Key key);

private:
    QString file_;
    QHash<int, QVariant> values_;
};
