// Reading checked values out of a description's TOML nodes: each reader refuses a value of
// the wrong kind, out of its bounds or with a key it does not know, naming the line and column.
#pragma once

#define TOML_EXCEPTIONS 0
#define TOML_HEADER_ONLY 1
#include <toml++/toml.h>

#include <QString>
#include <initializer_list>
#include <string_view>

namespace tomlnodes {

// What a reader throws: where the refused value stands and why.
struct Refusal {
    int line;
    QString reason;
    int column;
};

int lineOf(const toml::node &node);
int columnOf(const toml::node &node);
QString qs(std::string_view text);
[[noreturn]] void refuse(const toml::node &node, const QString &reason);
// Only these keys may appear in a table: a misspelt key is an error, not silently ignored.
void onlyKeys(const toml::table &table, std::initializer_list<const char *> keys, const QString &where);
QString text(const toml::node &node, const QString &what);
// A text the user sees (a caption, a message): no control characters.
QString shownText(const toml::node &node, const QString &what);
int integer(const toml::node &node, const QString &what, int low, int high);
int slotNumber(const toml::node &node, const QString &what);
const toml::node &required(const toml::table &table, const char *key, const toml::node &owner, const QString &where);
// True when variable names a host the program knows.
bool knownHost(const QString &variable);

}  // namespace tomlnodes
