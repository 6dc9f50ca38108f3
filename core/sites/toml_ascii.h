// The TOML reader is only ever given ASCII.
#pragma once

#include "sites/site_description.h"

#include <QByteArray>
#include <QString>
#include <optional>

// toml++ 3.3 (Debian 12) reaches undefined behaviour on some characters beyond ASCII (its
// whitespace test assumes ranges it does not cover), also while reporting an error in a
// malformed file. So it is only ever given ASCII: in strings such characters become \u
// escapes (a literal string becomes the basic string of the same value), in comments
// spaces; anywhere else TOML does not allow them, and the file is refused. Lines stay.
class AsciiOnly {
public:
    explicit AsciiOnly(const QString &text) : text_(text) {}

    // The refusal, or no value with out() holding the ASCII text.
    std::optional<LoadError> run();
    const QByteArray &out() const { return out_; }

private:
    enum State { Plain, Comment, Basic, Literal, MultiBasic, MultiLiteral };

    bool opens(const char *three) const;
    bool plain(QChar c);
    void inside(QChar c);
    void escape(QChar c);

    const QString &text_;
    QByteArray out_;
    State state_ = Plain;
    qsizetype i_ = 0;
    int line_ = 1;
};
