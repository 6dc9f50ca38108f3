// The download list opening over a history of N rows (argument; 0 for an empty one): the time
// from making the list to its window shown and painted, the memory that adds, and the longest
// step while scrolling from top to bottom. Prints "open MS rss KB scroll MS".
#include "downloads/download_list.h"
#include "download_list/list_window.h"
#include "desktop/seams.h"
#include "history/history_store.h"
#include "settings/settings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QScrollBar>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cstdio>

namespace {

long rssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return 0;
}

void fill(const QString &path, int rows)
{
    history::Store store(path);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
    db.setDatabaseName(path);
    db.open();
    QSqlQuery q(db);
    q.exec(QStringLiteral("BEGIN"));
    q.prepare(QStringLiteral("INSERT INTO downloads (site, video_id, address, link, file, size, started, state, "
                             "description, author, cover) VALUES ('meipai', ?, ?, ?, ?, 2400000, 0, 'done', ?, "
                             "'美拍小达人', '')"));
    for (int i = 0; i < rows; ++i) {
        const QString id = QString::number(10000 + i);
        q.addBindValue(id);
        q.addBindValue(QStringLiteral("http://www.meipai.com/media/") + id);
        q.addBindValue(QStringLiteral("http://mvvideo1.meipai.com/") + id + QStringLiteral(".mp4"));
        q.addBindValue(
            QStringLiteral("/home/me/视频/美拍小达人 - 夏天就要去海边 [meipai-") + id + QStringLiteral("].mp4"));
        q.addBindValue(QStringLiteral("夏天就要去海边，一起来玩水吧！第 %1 个").arg(i));
        q.exec();
    }
    q.exec(QStringLiteral("COMMIT"));
    db.close();
}

}  // namespace

int main(int argc, char **argv)
{
    QTemporaryDir dir;
    for (const char *name : {"XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME"})
        qputenv(name, dir.path().toLocal8Bit());
    QApplication app(argc, argv);
    const int rows = argc > 1 ? atoi(argv[1]) : 0;
    fill(history::Store::defaultPath(), rows);
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    app.processEvents();
    const long before = rssKb();
    QElapsedTimer clock;
    clock.start();
    Settings settings;
    Seams seams;
    DownloadList list(settings, history::Store::defaultPath());
    list.restore();
    ListWindow window(list, settings, seams);
    window.present();
    while (!window.view()->viewport()->isVisible() || !window.isActiveWindow()) {
        app.processEvents(QEventLoop::AllEvents, 5);
        if (clock.elapsed() > 10000)
            break;
    }
    app.processEvents();
    const qint64 openMs = clock.elapsed();
    const long added = rssKb() - before;
    // Scrolling down page by page: the rows further down are read as they come into view.
    QScrollBar *bar = window.view()->verticalScrollBar();
    qint64 longest = 0;
    for (int step = 0; step < 400 && bar->value() < bar->maximum(); ++step) {
        QElapsedTimer one;
        one.start();
        bar->setValue(bar->value() + bar->pageStep() * 5);
        app.processEvents();
        longest = qMax(longest, one.elapsed());
    }
    std::printf("open %lld rss %ld scroll %lld rows %d rss-all %ld\n", static_cast<long long>(openMs), added,
        static_cast<long long>(longest), window.view()->model()->rowCount(), rssKb() - before);
    return 0;
}
