#include "shell_words.h"

#include "download/output_template.h"

#include <QFileInfo>

std::optional<QStringList> shellWords(const QString &command, bool comments)
{
    QStringList words;
    QString word;
    bool inWord = false;
    enum class Quote { None, Single, Double } quote = Quote::None;
    for (qsizetype i = 0; i < command.size(); ++i) {
        const QChar c = command[i];
        if (quote == Quote::Single) {
            if (c == u'\'')
                quote = Quote::None;
            else
                word += c;
            continue;
        }
        if (quote == Quote::Double) {
            // Inside double quotes a backslash keeps only $ ` " \ and a line break special.
            if (c == u'"') {
                quote = Quote::None;
            } else if (c == u'\\' && i + 1 < command.size() && QStringLiteral("$`\"\\\n").contains(command[i + 1])) {
                if (command[++i] != u'\n')
                    word += command[i];
            } else {
                word += c;
            }
            continue;
        }
        if (c == u' ' || c == u'\t' || c == u'\n') {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
            continue;
        }
        if (comments && !inWord && c == u'#') {
            const qsizetype end = command.indexOf(u'\n', i);
            i = end < 0 ? command.size() : end - 1;  // the line break still ends the word
            continue;
        }
        inWord = true;
        if (c == u'\'') {
            quote = Quote::Single;
        } else if (c == u'"') {
            quote = Quote::Double;
        } else if (c == u'\\' && i + 1 < command.size()) {
            if (command[++i] != u'\n')
                word += command[i];
            else
                inWord = !word.isEmpty();
        } else {
            word += c;
        }
    }
    if (quote != Quote::None)
        return std::nullopt;
    if (inWord)
        words << word;
    return words;
}

qsizetype shellScriptIndex(const QStringList &words)
{
    static const QStringList Shells = {QStringLiteral("sh"), QStringLiteral("bash"), QStringLiteral("dash"),
        QStringLiteral("zsh"), QStringLiteral("ksh"), QStringLiteral("busybox")};
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (!Shells.contains(QFileInfo(words[i]).fileName()))
            continue;
        for (qsizetype j = i + 1; j + 1 < words.size() && words[j].startsWith(u'-'); ++j) {
            if (words[j].mid(1).contains(u'c') && !words[j].startsWith(QStringLiteral("--")))
                return j + 1;
        }
    }
    return -1;
}

QString shellScriptProblem(const QStringList &words)
{
    const qsizetype script = shellScriptIndex(words);
    if (script < 0)
        return QString();
    if (words[script].contains(QStringLiteral("{}")))
        return QStringLiteral("--exec: {} inside a shell's -c script would let a page's text run as commands; pass the "
                              "path as an argument instead: --exec 'sh -c '\\''cmd \"$1\"'\\'' sh {}'");
    if (const QStringList fields = outtmpl::unquotedFields(words[script]); !fields.isEmpty())
        return QStringLiteral("--exec: %(%1)s inside a shell's -c script would let a page's text run as commands; "
                              "write it %(%1)q, which the shell reads back as one word")
            .arg(fields.first());
    return QString();
}
