#include "progress.h"

#include "download/download_text.h"

#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

bool wide(char32_t c)
{
    return (c >= 0x1100 && c <= 0x115f) || (c >= 0x2e80 && c <= 0xa4cf) || (c >= 0xac00 && c <= 0xd7a3) ||
        (c >= 0xf900 && c <= 0xfaff) || (c >= 0xfe30 && c <= 0xfe4f) || (c >= 0xff00 && c <= 0xff60) ||
        (c >= 0xffe0 && c <= 0xffe6) || (c >= 0x1f300 && c <= 0x1faff) || (c >= 0x20000 && c <= 0x3fffd);
}

// The start of text that fits in columns, with ".." when cut.
QString fitted(const QString &text, int columns)
{
    if (displayWidth(text) <= columns)
        return text;
    QString out;
    int used = 0;
    for (const char32_t c : text.toUcs4()) {
        const int w = wide(c) ? 2 : 1;
        if (used + w > columns - 2)
            break;
        out += QString::fromUcs4(&c, 1);
        used += w;
    }
    return out + QStringLiteral("..");
}

int terminalColumns()
{
    winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    const int env = qEnvironmentVariableIntValue("COLUMNS");
    return env > 0 ? env : 80;
}

}  // namespace

int displayWidth(QStringView text)
{
    int width = 0;
    for (const char32_t c : text.toUcs4())
        width += wide(c) ? 2 : 1;
    return width;
}

QString barLine(const QString &name, const DownloadProgress &p, int columns)
{
    const QString percent = p.total > 0 ? QStringLiteral("%1%").arg(p.done * 100 / p.total, 3) : QStringLiteral(" --");
    const QString size = p.total > 0 ? byteSize(p.done) + u'/' + byteSize(p.total) : byteSize(p.done);
    // On a narrow terminal the rate and the time left go first, then the sizes: the name and
    // the bar stay.
    const QString tails[] = {QStringLiteral(" %1 %2 %3/s 剩余 %4")
                                 .arg(percent, size, byteSize(qint64(p.bytesPerSecond)), timeLeftText(p.secondsLeft)),
        QStringLiteral(" %1 %2").arg(percent, size), u' ' + percent.trimmed()};
    for (const QString &tail : tails) {
        // The last column stays free: writing into it makes some terminals wrap.
        const int room = columns - 1 - displayWidth(tail);
        const int nameColumns = qMin(displayWidth(name), qMax(0, room / 3));
        const QString shownName = nameColumns > 2 ? fitted(name, nameColumns) + u' ' : QString();
        const int barWidth = room - displayWidth(shownName) - 2;
        if (barWidth < 4 || (shownName.isEmpty() && !name.isEmpty() && &tail != &tails[2]))
            continue;
        const int filled = p.total > 0 ? int(p.done * barWidth / p.total) : 0;
        return shownName + u'[' + QString(filled, u'#') + QString(barWidth - filled, u' ') + u']' + tail;
    }
    return fitted(percent.trimmed(), columns - 1);
}

void ProgressPrinter::update(const DownloadProgress &p)
{
    if (bar_) {
        if (sinceDrawn_.isValid() && sinceDrawn_.elapsed() < 200 && p.done != p.total)
            return;
        sinceDrawn_.start();
        drawn_ = true;
        const QString line = u'\r' + barLine(name_, p, terminalColumns()) + QStringLiteral("\x1b[K");
        std::fputs(line.toUtf8().constData(), stderr);
        std::fflush(stderr);
        return;
    }
    if (p.total <= 0)
        return;
    const int tenth = int(p.done * 10 / p.total);
    if (tenth <= lastTenth_)
        return;
    lastTenth_ = tenth;
    std::fprintf(stderr, "download: %s: %d%% (%s/%s)\n", name_.toUtf8().constData(), tenth * 10,
        byteSize(p.done).toUtf8().constData(), byteSize(p.total).toUtf8().constData());
}

void ProgressPrinter::finish()
{
    if (bar_ && drawn_)
        std::fputs("\n", stderr);
    drawn_ = false;
}
