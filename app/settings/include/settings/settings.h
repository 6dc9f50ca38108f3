// What the window remembers across runs, in one INI file under the user's configuration
// folder: today the folder the last video was saved to.
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
};
