#include "config_file.h"

#include "option_table.h"
#include "options.h"
#include "shell_words.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 MostConfigBytes = qint64(64) * 1024;  // far more than any set of options needs

// The values of an option given as "--name VALUE" or "--name=VALUE", before any "--".
QStringList valuesOf(const QStringList &arguments, const QString &name)
{
    QStringList values;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == u"--")
            break;
        if (arguments[i] == name && i + 1 < arguments.size())
            values << arguments[++i];
        else if (arguments[i].startsWith(name + u'='))
            values << arguments[i].mid(name.size() + 1);
    }
    return values;
}

QString defaultConfig()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
        QStringLiteral("/quorvin-extract/config");
}

// The lines of one config file that give options; a line that does not read as options is a
// usage error. An unquoted # that starts a word starts a comment, as in a shell.
std::optional<QList<ConfigLine>> configLines(const QString &path, bool mustExist, int *status)
{
    const QString file = QFileInfo(path).isDir() ? QDir(path).filePath(QStringLiteral("config")) : path;
    // Opened without waiting (a FIFO in its place never hangs the run), then read only when it
    // is a regular file within the bound.
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (!mustExist)
            return QList<ConfigLine>();
        *status = usageError(QStringLiteral("cannot read the config file %1").arg(file));
        return std::nullopt;
    }
    QFile in;
    struct stat info {};
    QString problem;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        problem = QStringLiteral("the config file %1 is not a regular file").arg(file);
    else if (info.st_size > MostConfigBytes)
        problem = QStringLiteral("the config file %1 is larger than %2 KiB").arg(file).arg(MostConfigBytes / 1024);
    else if (!in.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        problem = QStringLiteral("cannot read the config file %1").arg(file);
    if (!problem.isEmpty()) {
        if (!in.isOpen())
            ::close(fd);
        *status = usageError(problem);
        return std::nullopt;
    }
    QList<ConfigLine> lines;
    int number = 0;
    for (const QByteArray &raw : in.read(MostConfigBytes).split('\n')) {
        ++number;
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const std::optional<QStringList> lineWords = shellWords(line, true);
        if (lineWords && lineWords->isEmpty())
            continue;
        QCommandLineParser parser;
        addOptions(parser);
        QString why;
        if (!lineWords)
            why = QStringLiteral("a quote is not closed");
        else if (!parser.parse(QStringList {QStringLiteral("quorvin-extract")} + *lineWords))
            why = parser.errorText();
        else if (parser.isSet(QStringLiteral("config-locations")) || parser.isSet(QStringLiteral("ignore-config")))
            why = QStringLiteral("the config file cannot name another");
        else if (lineWords->contains(QStringLiteral("--")))
            why = QStringLiteral("\"--\" would end the command line's options here");
        if (!why.isEmpty()) {
            *status = usageError(QStringLiteral("%1, line %2: %3").arg(file).arg(number).arg(why));
            return std::nullopt;
        }
        lines.append({file, number, *lineWords});
    }
    return lines;
}

}  // namespace

QStringList Configured::commandLine() const
{
    qsizetype words = 0;
    for (const ConfigLine &line : lines)
        words += line.words.size();
    return arguments.mid(0, 1) + arguments.mid(1 + words);
}

std::variant<Configured, int> withConfig(const QStringList &arguments)
{
    Configured configured {arguments, {}};
    const QStringList commandLine = arguments.mid(0, arguments.indexOf(QStringLiteral("--")));
    if (commandLine.contains(QStringLiteral("--ignore-config")) || commandLine.contains(QStringLiteral("--no-config")))
        return configured;
    const QStringList given = valuesOf(arguments, QStringLiteral("--config-locations"));
    QStringList words;
    int status = 0;
    for (const QString &path : given.isEmpty() ? QStringList {defaultConfig()} : given) {
        const std::optional<QList<ConfigLine>> read = configLines(path, !given.isEmpty(), &status);
        if (!read)
            return status;
        for (const ConfigLine &line : *read)
            words += line.words;
        configured.lines += *read;
    }
    configured.arguments = arguments.mid(0, 1) + words + arguments.mid(1);
    return configured;
}
