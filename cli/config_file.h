// The config file: options read before the command line's, from
// $XDG_CONFIG_HOME/quorvin-extract/config (or --config-locations), unless --ignore-config.
#pragma once

#include <QStringList>
#include <variant>

// The arguments with the config's words put before the command line's (after the program's
// name); or the usage exit status after a line that cannot be read (named by file and line).
std::variant<QStringList, int> withConfig(const QStringList &arguments);
