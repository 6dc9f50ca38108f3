// Measures the processor time the process uses while a fetch waits for a slow server.
// Prints it as a share of the wall time; the wait should cost well under 2 %.
#include "net/fetch.h"
#include "http_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <cstdio>
#include <ctime>

namespace {
double cpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}
}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    HttpServer server;
    server.listen();
    server.setHandler([](const HttpRequest &) {
        HttpResponse r = HttpResponse::text("slow answer");
        r.delayMs = 3000;
        return r;
    });

    const int rounds = 3;
    double cpuTotal = 0;
    double wallTotal = 0;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer wall;
        const double cpu0 = cpuSeconds();
        wall.start();
        std::optional<fetch::Result> body;
        QEventLoop loop;
        fetch::getLater(server.base() + "/slow", fetch::PageLimit, &loop, [&](const fetch::Result &r) {
            body = r;
            loop.quit();
        });
        if (!body)
            loop.exec();
        const double wallSeconds = wall.elapsed() / 1000.0;
        const double cpu = cpuSeconds() - cpu0;
        cpuTotal += cpu;
        wallTotal += wallSeconds;
        std::printf("round %d: wall %.3f s, cpu %.4f s, answer %s\n", i + 1, wallSeconds, cpu,
            body && body->ok ? "received" : "missing");
    }
    const double share = 100.0 * cpuTotal / wallTotal;
    std::printf("fetch wait: %.3f %% of one core (goal: under 2 %%)\n", share);
    return 0;
}
