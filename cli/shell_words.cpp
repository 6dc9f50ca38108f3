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
        // With -c in its options, the script is the shell's first word that is no option:
        // "--" ends the options, -o and +o take a name, a long option stands alone.
        bool script = false;
        qsizetype j = i + 1;
        for (; j < words.size(); ++j) {
            const QString &w = words[j];
            if (w == u"--") {
                ++j;
                break;
            }
            if (w.size() < 2 || (!w.startsWith(u'-') && !w.startsWith(u'+')))
                break;
            if (w.startsWith(QStringLiteral("--")))
                continue;
            script = script || (w.startsWith(u'-') && w.contains(u'c'));
            if (w.mid(1).endsWith(u'o'))
                ++j;  // -o NAME, +o NAME
        }
        if (script && j < words.size())
            return j;
    }
    return -1;
}

QString shellScriptProblem(const QStringList &words)
{
    const qsizetype script = shellScriptIndex(words);
    if (script < 0)
        return QString();
    // Inside a script the shell reads a value again, quoted or not ("'%(title)q'" puts it
    // between quotes that end where the title's own begin): nothing of the page goes there.
    if (words[script].contains(QStringLiteral("{}")) || !outtmpl::namedFields(words[script]).isEmpty())
        return QStringLiteral(
            "--exec: {} or a field inside a shell's -c script would let a page's text run as commands; pass it "
            "as an argument instead: --exec 'sh -c '\\''cmd \"$1\"'\\'' sh {}'");
    return QString();
}
