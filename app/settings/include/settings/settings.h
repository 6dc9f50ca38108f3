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

    // How many downloads run at once, 1 to 5 (2).
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
    // The list window's size and place.
    QByteArray listGeometry() const;
    void setListGeometry(const QByteArray &geometry);
};
