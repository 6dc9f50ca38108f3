// quorvin-sim: plays every service the program talks to, on 127.0.0.1 only.
#include "catalog.h"
#include "http_server.h"
#include "site_changed.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSet>
#include <QTextStream>
#include <QUrl>
#include <csignal>

namespace {

const char Usage[] = "Usage: quorvin-sim [--port PORT] [--list] [--site-changed SITE [--bundle-tampered]]\n"
                     "                   [--sites-key FILE] [--hold-ms MS] [--bench-author N]\n"
                     "\n"
                     "Serves share pages, interfaces, pictures and videos of the five services, the version\n"
                     "file and the maker's pages on 127.0.0.1, one log line per request.\n"
                     "\n"
                     "  (no option)   listen on every port of the host table this program was built with\n"
                     "                (the demo preset puts them all on 127.0.0.1)\n"
                     "  --port PORT   put every service on this one port instead\n"
                     "  --list        print the share addresses, one a line; then an empty line and the\n"
                     "                author pages, one a line: the address, two spaces and a comment\n"
                     "                (\"# 美拍 连载小剧场 45\": service, name, works); then exit\n"
                     "  --site-changed SITE\n"
                     "                serve the service's pages as changed (meipai: the author moves from\n"
                     "                <a class=\"name\"> to <span class=\"nick\">) and publish a signed\n"
                     "                description set that mends it (sites.bundle beside the version file)\n"
                     "  --bundle-tampered\n"
                     "                publish that set with one byte changed after signing\n"
                     "  --sites-key FILE\n"
                     "                the secret key the set is signed with (default: the demo build's)\n"
                     "  --hold-ms MS  hold every author page and works-interface answer MS milliseconds\n"
                     "                before sending it (default 0; share pages, pictures and videos\n"
                     "                are never held), to time how a program pages through authors\n"
                     "  --bench-author N\n"
                     "                add one more 美拍 author, 8000 (基准作者), with N works (1 to\n"
                     "                1000000) made up as they are listed, to time and weigh long listings\n";

// The demo build's key pair is made in its build folder; the simulator signs with its secret half.
#ifdef QUORVIN_DEMO_SITES_KEY_FILE
const char DefaultKeyFile[] = QUORVIN_DEMO_SITES_KEY_FILE;
#else
const char DefaultKeyFile[] = "";
#endif

QList<quint16> portsOf(const Hosts &h)
{
    QSet<quint16> ports;
    QStringList addresses {h.VersionFileUrl, h.ForumUrl, h.GuestbookUrl};
    for (const QString &host : h.variables)
        addresses << QStringLiteral("http://") + host;
    for (const QString &address : addresses) {
        const QUrl url(address);
        if (url.host() == u"127.0.0.1" && url.port() > 0)
            ports.insert(quint16(url.port()));
    }
    QList<quint16> sorted = ports.values();
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

struct SimOptions {
    Hosts table = hosts();
    bool list = false;
    QString changed;  // --site-changed
    QString keyFile = QString::fromUtf8(DefaultKeyFile);
    bool tampered = false;
    int holdMs = 0;      // --hold-ms
    int benchWorks = 0;  // --bench-author
};

// The options; the exit status when the program ends here (--help, an unknown argument).
std::optional<int> parseArguments(const QStringList &args, SimOptions &o)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == u"--site-changed" && i + 1 < args.size() && hasMendedDescription(args[i + 1])) {
            o.changed = args[++i];
        } else if (args[i] == u"--sites-key" && i + 1 < args.size()) {
            o.keyFile = args[++i];
        } else if (args[i] == u"--bundle-tampered") {
            o.tampered = true;
        } else if (args[i] == u"--port" && i + 1 < args.size()) {
            o.table = Hosts::allOn(QStringLiteral("127.0.0.1:") + args[++i]);
        } else if (args[i] == u"--hold-ms" && i + 1 < args.size()) {
            bool ok = false;
            o.holdMs = args[++i].toInt(&ok);
            if (!ok || o.holdMs < 0) {
                QTextStream(stderr) << "quorvin-sim: --hold-ms wants a number of milliseconds, 0 or more\n\n" << Usage;
                return 2;
            }
        } else if (args[i] == u"--bench-author" && i + 1 < args.size()) {
            bool ok = false;
            o.benchWorks = args[++i].toInt(&ok);
            if (!ok || o.benchWorks < 1 || o.benchWorks > Catalog::MaxBenchWorks) {
                QTextStream(stderr) << "quorvin-sim: --bench-author wants a number of works, 1 to "
                                    << Catalog::MaxBenchWorks << "\n\n"
                                    << Usage;
                return 2;
            }
        } else if (args[i] == u"--list") {
            o.list = true;
        } else if (args[i] == u"--help") {
            QTextStream(stdout) << Usage;
            return 0;
        } else {
            QTextStream(stderr) << "quorvin-sim: unknown argument " << args[i] << "\n\n" << Usage;
            return 2;
        }
    }
    return std::nullopt;
}

// The catalogue as the options ask (holds, the bench author, a changed service and its
// published set); with --list, the addresses printed. The exit status when the program ends here.
std::optional<int> setUp(Catalog &catalog, const SimOptions &o)
{
    QTextStream out(stdout);
    catalog.setHoldMs(o.holdMs);
    if (o.benchWorks > 0)
        catalog.addBenchAuthor(o.benchWorks);
    if (!o.changed.isEmpty()) {
        catalog.setSiteChanged(o.changed);
        QString why;
        const std::optional<PublishedSet> set = mendedSet(o.changed, o.keyFile, o.tampered, &why);
        if (!set) {
            QTextStream(stderr) << "quorvin-sim: " << why << "\n";
            return 2;
        }
        catalog.setPublishedSet(set->bundle, set->signature);
    }
    if (!o.list)
        return std::nullopt;
    for (const QString &address : catalog.shareAddresses())
        out << address << "\n";
    out << "\n";
    for (const QString &line : catalog.authorLines())
        out << line << "\n";
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::signal(SIGTERM, [](int) { QCoreApplication::quit(); });
    std::signal(SIGINT, [](int) { QCoreApplication::quit(); });
    Q_INIT_RESOURCE(sim_media);
    QTextStream out(stdout);
    QTextStream err(stderr);

    SimOptions o;
    if (const std::optional<int> status = parseArguments(app.arguments().mid(1), o))
        return *status;
    const Hosts &table = o.table;
    Catalog catalog(table);
    if (const std::optional<int> status = setUp(catalog, o))
        return *status;

    const QList<quint16> ports = portsOf(table);
    if (ports.isEmpty()) {
        err << "quorvin-sim: this build talks to the real services; build the demo preset or use --port\n";
        return 2;
    }
    HttpServer server;
    for (quint16 port : ports) {
        if (!server.listen(port)) {
            err << "quorvin-sim: cannot listen on 127.0.0.1:" << port << "\n";
            return 1;
        }
    }
    server.setHandler([&catalog](const HttpRequest &request) { return catalog.answer(request); });
    QObject::connect(&server, &HttpServer::served, [&out](const HttpRequest &request, int status, qint64 bytes) {
        out << QDateTime::currentDateTime().toString(Qt::ISODate) << " :" << request.localPort << " " << request.method
            << " " << request.target << " " << status << " " << bytes << Qt::endl;
    });
    out << "quorvin-sim: serving on 127.0.0.1 ports";
    for (quint16 port : ports)
        out << " " << port;
    out << "\nshare addresses:\n";
    for (const QString &address : catalog.shareAddresses())
        out << "  " << address << "\n";
    out << "author pages:\n";
    for (const QString &line : catalog.authorLines())
        out << "  " << line << "\n";
    out.flush();
    return app.exec();
}
