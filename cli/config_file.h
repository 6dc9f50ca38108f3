// The config file: options read before the command line's, from
// $XDG_CONFIG_HOME/quorvin-extract/config (or --config-locations), unless --ignore-config.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <variant>

// One line of a config file that gave options.
struct ConfigLine {
    QString file;
    int number = 0;
    QStringList words;
};

struct Configured {
    QStringList arguments;    // the config's words, then the command line's (after the program's name)
    QList<ConfigLine> lines;  // where the config's words came from, in order
    // The command line as given, without the config's words.
    QStringList commandLine() const;
};

// The arguments with the config's words put before the command line's; or the usage exit
// status after a line that cannot be read (named by file and line).
std::variant<Configured, int> withConfig(const QStringList &arguments);
