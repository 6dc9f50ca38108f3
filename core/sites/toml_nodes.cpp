#include "toml_nodes.h"

#include "hosts_config.h"
#include "record/result.h"

namespace tomlnodes {

int lineOf(const toml::node &node)
{
    return int(node.source().begin.line);
}

int columnOf(const toml::node &node)
{
    return int(node.source().begin.column);
}

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

[[noreturn]] void refuse(const toml::node &node, const QString &reason)
{
    throw Refusal {lineOf(node), reason, columnOf(node)};
}

// Only these keys may appear in a table: a misspelt key is an error, not silently ignored.
void onlyKeys(const toml::table &table, std::initializer_list<const char *> keys, const QString &where)
{
    for (const auto &[key, value] : table) {
        bool known = false;
        for (const char *k : keys)
            known = known || key.str() == k;
        if (!known)
            refuse(value, QStringLiteral("unknown key \"%1\" in %2").arg(qs(key.str()), where));
    }
}

QString text(const toml::node &node, const QString &what)
{
    const auto value = node.value<std::string_view>();
    if (!value)
        refuse(node, QStringLiteral("%1 must be a string").arg(what));
    return qs(*value);
}

// A text the user sees (a caption, a message): no control characters.
QString shownText(const toml::node &node, const QString &what)
{
    QString value = text(node, what);
    for (const QChar c : value) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            refuse(node, QStringLiteral("%1 holds a control character").arg(what));
    }
    return value;
}

int integer(const toml::node &node, const QString &what, int low, int high)
{
    const auto value = node.value<int64_t>();
    if (!value || *value < low || *value > high)
        refuse(node, QStringLiteral("%1 must be a whole number from %2 to %3").arg(what).arg(low).arg(high));
    return int(*value);
}

int slotNumber(const toml::node &node, const QString &what)
{
    return integer(node, what, 0, SlotCount - 1);
}

const toml::node &required(const toml::table &table, const char *key, const toml::node &owner, const QString &where)
{
    const toml::node *node = table.get(key);
    if (!node)
        refuse(owner, QStringLiteral("%1 needs \"%2\"").arg(where, QString::fromLatin1(key)));
    return *node;
}

bool knownHost(const QString &variable)
{
    for (const hostconfig::HostVariable &v : hostconfig::Hosts) {
        if (variable == QLatin1String(v.name))
            return true;
    }
    return false;
}

}  // namespace tomlnodes
