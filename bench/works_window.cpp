// The works window and the check of followed authors, against servers run in this process.
//
// The window lists the simulator's 1,000-work 美拍 author (/user/7000), each author page held
// HoldMs as a distant server would. Printed: the time from the first page's answer to the
// first rows painted in the view, and to the first cover shown; the longest gap between
// event-loop turns (a 5 ms timer) while the pages and the covers in view arrive; the memory
// (VmRSS) the window adds once the listing ended and the covers in view are loaded, and again
// after scrolling every row, a page at a time.
//
// Then 检查新作品 on 20 followed authors with nothing new, each a 美拍-shaped page of 12 works
// (five pages each, so that reading past the first page would show) held HoldMs: the author
// pages asked and the time the check takes, beside the time the holds alone take with the
// authors checked as many at once as the followed authors' window does.
//
// The servers answer from a thread of their own, so that the event loop measured carries only
// the window's work, not the simulator's (its covers are drawn and encoded as they are asked).
//
// Argument: "window", "check", or none for both.
#include "catalog.h"
#include "desktop/seams.h"
#include "downloads/download_list.h"
#include "downloads/follow_check.h"
#include "history/history_store.h"
#include "http_server.h"
#include "record/hosts.h"
#include "settings/settings.h"
#include "sites/sites.h"
#include "works_window/works_window.h"
#include "../app/works_window/works_model.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListView>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrlQuery>
#include <QVBoxLayout>
#include <QWindow>
#include <atomic>
#include <chrono>
#include <cstdio>

// The simulator's videos and pictures, compiled into its library.
static void initSimMedia()
{
    Q_INIT_RESOURCE(sim_media);
}

namespace {

// How long every author page is held, as by quorvin-sim --hold-ms in bench/run.sh.
constexpr int HoldMs = 50;
// The 美拍-shaped authors of the check, and the works each one's pages list.
constexpr int CheckedAuthors = 20;
constexpr int WorksPerAuthor = 60;
constexpr int WorksPerPage = 12;

// Microseconds on a clock both threads read.
qint64 nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A field of /proc/self/status in KB ("VmRSS:", "VmHWM:").
long statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLong();
    }
    return 0;
}

// Handles events until ready() or the deadline; false when the deadline passed first.
template <typename Ready> bool awaitUntil(Ready ready, int ms = 60000)
{
    const QDeadlineTimer deadline(ms);
    while (!ready()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

// An HttpServer living in a thread of its own, listening on a free port.
class ServerThread {
public:
    ServerThread() : server_(new HttpServer)
    {
        thread_.start();
        server_->moveToThread(&thread_);
        QMetaObject::invokeMethod(
            server_, [this] { server_->listen(); }, Qt::BlockingQueuedConnection);
    }
    ~ServerThread()
    {
        QMetaObject::invokeMethod(
            server_, [this] { delete server_; }, Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
    }
    ServerThread(const ServerThread &) = delete;
    ServerThread &operator=(const ServerThread &) = delete;

    // Set before any request is sent; the handler runs in the server's thread.
    void setHandler(HttpServer::Handler handler)
    {
        QMetaObject::invokeMethod(
            server_, [this, &handler] { server_->setHandler(std::move(handler)); }, Qt::BlockingQueuedConnection);
    }
    HttpServer *server() const { return server_; }

private:
    QThread thread_;
    HttpServer *server_;
};

// The longest gap between the turns of the event loop, seen by a 5 ms timer.
class GapMeter {
public:
    GapMeter()
    {
        QObject::connect(&ticker_, &QTimer::timeout, [this] { longest_ = qMax(longest_, sinceTick_.restart()); });
    }
    void start()
    {
        longest_ = 0;
        sinceTick_.start();
        ticker_.start(5);
    }
    qint64 stop()
    {
        ticker_.stop();
        return qMax(longest_, sinceTick_.elapsed());
    }

private:
    QTimer ticker_;
    QElapsedTimer sinceTick_;
    qint64 longest_ = 0;
};

// Notes when the view's viewport is first painted with rows laid out in it: the time is taken
// once that paint is over (the next turn of the event loop).
class FirstRowsPaint : public QObject {
public:
    explicit FirstRowsPaint(QListView *view) : view_(view) { view->viewport()->installEventFilter(this); }
    qint64 paintedUs() const { return paintedUs_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !seen_ && view_->model()->rowCount() > 0 &&
            view_->indexAt(QPoint(1, 1)).isValid()) {
            seen_ = true;
            QTimer::singleShot(0, this, [this] { paintedUs_ = nowUs(); });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QListView *view_;
    bool seen_ = false;
    qint64 paintedUs_ = 0;
};

// The rows from the top of the view to its bottom.
std::pair<int, int> rowsInView(const QListView *view)
{
    const int first = qMax(0, view->indexAt(QPoint(1, 1)).row());
    const QModelIndex bottom = view->indexAt(QPoint(1, view->viewport()->height() - 2));
    return {first, bottom.isValid() ? bottom.row() : view->model()->rowCount() - 1};
}

// Every row in the view shows its cover.
bool coversInView(const QListView *view)
{
    const auto [first, last] = rowsInView(view);
    if (last < first)
        return false;
    for (int row = first; row <= last; ++row) {
        if (view->model()->index(row, 0).data(Qt::DecorationRole).isNull())
            return false;
    }
    return true;
}

double mb(long kb)
{
    return kb / 1024.0;
}

void windowBench(const QString &historyPath)
{
    ServerThread served;
    setHosts(Hosts::allOn(served.server()->hostPort()));
    Catalog catalog(hosts());  // also loads the site descriptions before the server's thread reads them
    catalog.setHoldMs(HoldMs);
    std::atomic<int> pages {0};
    std::atomic<qint64> firstPageUs {0};
    served.setHandler([&catalog, &pages](const HttpRequest &r) {
        if (r.path().startsWith("/user/"))
            ++pages;
        return catalog.answer(r);
    });
    // The first page's answer leaves the server (after its hold): the clock of the first rows starts.
    QObject::connect(
        served.server(), &HttpServer::served, served.server(),
        [&firstPageUs](const HttpRequest &r, int, qint64) {
            qint64 none = 0;
            if (r.path() == "/user/7000")
                firstPageUs.compare_exchange_strong(none, nowUs());
        },
        Qt::DirectConnection);

    // The program's main window stands open before the works window is asked for: a window
    // with Chinese text shown first, so that what the platform and the fonts cost once is
    // not counted as the works window's.
    QWidget main;
    auto *layout = new QVBoxLayout(&main);
    layout->addWidget(new QLabel(QStringLiteral("视频下载助手：粘贴分享地址，作者的全部作品"), &main));
    main.resize(400, 200);
    main.show();
    awaitUntil([&main] { return main.windowHandle() && main.windowHandle()->isExposed(); }, 10000);
    QCoreApplication::processEvents();

    DownloadList list(Settings(), historyPath);
    Seams seams;
    QCoreApplication::processEvents();
    const long rssBefore = statusKb("VmRSS:");
    const long peakBefore = statusKb("VmHWM:");

    GapMeter gaps;
    gaps.start();
    QElapsedTimer listingClock;
    listingClock.start();
    WorksWindow window(list, seams);
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    FirstRowsPaint firstRows(window.view());
    qint64 firstCoverUs = 0;
    QObject::connect(window.model(), &QAbstractItemModel::dataChanged,
        [&firstCoverUs](const QModelIndex &, const QModelIndex &, const QList<int> &roles) {
            if (firstCoverUs == 0 && roles.contains(Qt::DecorationRole))
                firstCoverUs = nowUs();
        });
    window.open(Meipai, served.server()->base() + QStringLiteral("/user/7000"));
    const bool painted = awaitUntil([&firstRows] { return firstRows.paintedUs() != 0; }, 30000);
    awaitUntil([&window] { return !window.listing(); });
    const double listingSeconds = listingClock.elapsed() / 1000.0;
    const bool coversLoaded = awaitUntil([&window] { return coversInView(window.view()); }, 30000);
    const qint64 longestGap = gaps.stop();
    QCoreApplication::processEvents();
    const long rssListed = statusKb("VmRSS:");

    // Every row scrolled into view a page at a time, each view's covers awaited (at most 3 s).
    QScrollBar *bar = window.view()->verticalScrollBar();
    QElapsedTimer scrollClock;
    scrollClock.start();
    gaps.start();
    int steps = 0;
    while (bar->value() < bar->maximum() && steps < 1000) {
        bar->setValue(bar->value() + bar->pageStep());
        awaitUntil([&window] { return coversInView(window.view()); }, 3000);
        ++steps;
    }
    const qint64 scrollGap = gaps.stop();
    const double scrollSeconds = scrollClock.elapsed() / 1000.0;
    QCoreApplication::processEvents();
    const long rssScrolled = statusKb("VmRSS:");
    const long peakAfter = statusKb("VmHWM:");

    const qint64 first = firstPageUs.load();
    const auto msAfterFirst = [first](qint64 us) { return us != 0 && first != 0 ? (us - first) / 1000.0 : -1.0; };
    std::printf("first rows painted: %.1f ms after the first page's answer (goal: <= 300 ms)%s\n",
        msAfterFirst(firstRows.paintedUs()), painted ? "" : " [never painted]");
    std::printf("first cover shown: %.1f ms after the first page's answer\n", msAfterFirst(firstCoverUs));
    std::printf("longest event-loop gap while pages and covers arrive: %lld ms (goal: <= 50 ms)%s\n",
        static_cast<long long>(longestGap), coversLoaded ? "" : " [covers in view never all loaded]");
    std::printf("longest event-loop gap scrolling every row: %lld ms (%d steps, %.2f s)\n",
        static_cast<long long>(scrollGap), steps, scrollSeconds);
    std::printf("memory the window adds, listed with the covers in view: %.1f MB (goal: <= 60 MB); "
                "after scrolling every row: %.1f MB, %d covers held; peak RSS %.1f MB more\n",
        mb(rssListed - rssBefore), mb(rssScrolled - rssBefore), window.model()->coversHeld(),
        mb(peakAfter - peakBefore));
    std::printf("listed %d works from %d pages in %.2f s (%d ms held each)\n", window.model()->rowCount(), pages.load(),
        listingSeconds, HoldMs);
    std::fflush(stdout);
}

// Page `page` (from 1) of an author's works on a 美拍-shaped page, newest first, linking the next
// page when there is one.
QByteArray meipaiPage(int author, int page)
{
    QString html = QStringLiteral("<html><h1 class=\"user-name\">作者%1</h1><ul>").arg(author);
    const int from = (page - 1) * WorksPerPage;
    for (int i = from; i < qMin(from + WorksPerPage, WorksPerAuthor); ++i) {
        const QString id = QString::number(author * 1000 + WorksPerAuthor - i);
        html += QStringLiteral("<li class=\"feed-item\"><a href=\"/media/%1\" class=\"feed-link\"><img "
                               "class=\"feed-cover\" src=\"/c/%1.jpg\"></a><p class=\"feed-desc\">作品%1</p><span "
                               "class=\"feed-date\">2016-06-01 12:00</span></li>\n")
                    .arg(id);
    }
    html += QStringLiteral("</ul>");
    if (from + WorksPerPage < WorksPerAuthor)
        html += QStringLiteral("<a class=\"next\" href=\"/user/%1?p=%2\">下一页</a>").arg(author).arg(page + 1);
    return html.toUtf8();
}

void checkBench(const QString &historyPath)
{
    ServerThread served;
    std::atomic<int> authorPages {0};
    std::atomic<int> requests {0};
    served.setHandler([&authorPages, &requests](const HttpRequest &r) {
        ++requests;
        const QByteArray path = r.path();
        if (!path.startsWith("/user/"))
            return HttpResponse::notFound();
        ++authorPages;
        const QUrlQuery query(QString::fromUtf8(r.target.mid(path.size() + 1)));
        const int page =
            query.hasQueryItem(QStringLiteral("p")) ? query.queryItemValue(QStringLiteral("p")).toInt() : 1;
        HttpResponse answer = HttpResponse::text(meipaiPage(path.mid(6).toInt(), qMax(1, page)));
        answer.delayMs = HoldMs;
        return answer;
    });
    const Hosts h = Hosts::allOn(served.server()->hostPort());
    setHosts(h);

    history::Store store(historyPath);
    for (int n = 1; n <= CheckedAuthors; ++n) {
        history::FollowedAuthor a;
        a.site = QStringLiteral("meipai");
        a.id = QString::number(n);
        a.name = QStringLiteral("作者%1").arg(n);
        a.address = served.server()->base() + QStringLiteral("/user/%1").arg(n);
        a.newestSeen = QString::number(n * 1000 + WorksPerAuthor);  // the first work of the first page
        a.followed = a.checked = QDateTime::currentDateTime();
        store.follow(a);
    }

    FollowCheck check(h, store);
    bool finished = false;
    int newWorks = -1;
    QObject::connect(&check, &FollowCheck::finished, [&](int, int works) {
        newWorks = works;
        finished = true;
    });
    const QList<history::FollowedAuthor> authors = store.followedAuthors();
    QElapsedTimer clock;
    clock.start();
    check.check(authors);  // as many at once as the followed authors' window checks
    awaitUntil([&finished] { return finished; });
    const double seconds = clock.elapsed() / 1000.0;
    // The check's default: two authors at a time, each one page held HoldMs.
    const int atOnce = 2;
    const double holds = (int(authors.size()) + atOnce - 1) / atOnce * HoldMs / 1000.0;
    std::printf("检查新作品 on %d authors with nothing new: %d author pages asked (goal: exactly %d), "
                "%d requests in all, %d new works, %.3f s; the holds alone %.3f s (%d at once)%s\n",
        int(authors.size()), authorPages.load(), CheckedAuthors, requests.load(), newWorks, seconds, holds, atOnce,
        finished ? "" : " [never finished]");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv)
{
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_CACHE_HOME", dir.filePath(QStringLiteral("cache")).toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    initSimMedia();
    const QString what = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (what.isEmpty() || what == u"window")
        windowBench(dir.filePath(QStringLiteral("window.sqlite")));
    if (what.isEmpty() || what == u"check")
        checkBench(dir.filePath(QStringLiteral("check.sqlite")));
    setHosts(Hosts::fromBuild());
    return 0;
}
