// What the window remembers across runs, in one INI file under the user's configuration
// folder: the folder the last video was saved to, and the download list's settings.
#pragma once

#include <QString>

class Settings {
public:
    // The file the settings live in ($XDG_CONFIG_HOME/quorvin-video-helper/...).
    static QString file();

    // Where the save dialog starts: the folder of the last saved video, else the user's
    // Downloads folder, else the home folder.
    QString saveFolder() const;
    void setSaveFolder(const QString &folder);

    static constexpr int MostAtOnce = 5;
    // How many downloads run at once, 1 to MostAtOnce (2).
    int downloadsAtOnce() const;
    void setDownloadsAtOnce(int n);
    // Whether unfinished downloads go on by themselves at the next start (true), or come back
    // paused.
    bool resumeAtStart() const;
    void setResumeAtStart(bool on);
    // Whether finished downloads are kept in the history (true).
    bool keepHistory() const;
    void setKeepHistory(bool on);
    // How many rows of history the list shows at most (10,000).
    int historyShown() const;
    void setHistoryShown(int rows);
    // "同时保存封面和视频信息": NAME.info.json and the cover beside each saved video (off).
    bool saveSidecars() const;
    void setSaveSidecars(bool on);
    // "监视剪贴板": a share address copied anywhere is extracted (off).
    bool watchClipboard() const;
    void setWatchClipboard(bool on);
    static constexpr int MostConnections = 6;
    // How many connections the program opens to one host at most, 1 to MostConnections (4).
    int connectionsPerHost() const;
    void setConnectionsPerHost(int n);
    // "限速": all downloads together stay under it ("500K", "2M"); empty for no limit.
    QString rateLimit() const;
    void setRateLimit(const QString &rate);
    // "代理": the proxy every request goes through; empty to follow the environment's
    // http_proxy and the like, "无" for none.
    QString proxy() const;
    void setProxy(const QString &proxy);
    // Whether the user chose the save folder (a video was saved, or a folder chosen).
    bool hasSaveFolder() const;
    // The list window's size and place.
    QByteArray listGeometry() const;
    void setListGeometry(const QByteArray &geometry);
};
