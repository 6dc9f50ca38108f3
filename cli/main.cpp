// quorvin-extract: the window's extraction for scripts, one site and one or more addresses.
#include "display.h"
#include "driver.h"
#include "fetch.h"
#include "headless_view.h"
#include "address_check.h"
#include "hosts.h"
#include "json_out.h"
#include "save.h"
#include "sites.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int AutoSite = -2;  // --site auto: each address picks its own service

const char Usage[] =
    "Usage: quorvin-extract [--site SITE] [--json] [--download [-o DIR]] [--all-hosts HOST[:PORT]] ADDRESS...\n"
    "\n"
    "Extracts the video link and details from share pages, the way the window does, one\n"
    "address after the other on one shared result record.\n"
    "\n"
    "  --site SITE            weishi, meipai, kuaishou, weipai, miaopai, 0-4, or auto\n"
    "                         (the default): each address gets the service whose page\n"
    "                         prefix it starts with\n"
    "  --json                 one JSON object per address and line\n"
    "  --download             save each extracted video (resuming an earlier .part file);\n"
    "                         the JSON line then has \"file\" or \"download_error\"\n"
    "  -o, --output DIR       folder for --download (default: the current folder)\n"
    "  --force-overwrite      replace an existing file of the same name (by default it is\n"
    "                         left as it is and reported with \"skipped\": \"exists\")\n"
    "  --low-speed LIMIT,SECONDS  give up a transfer that brings fewer than LIMIT bytes a\n"
    "                         second over SECONDS seconds (1024,60)\n"
    "  --all-hosts HOST:PORT  talk to every service on this one host (a mirror or simulator)\n"
    "  --stall-timeout MS     give up a fetch that receives nothing for MS ms (30000)\n"
    "  --deadline MS          give up a page fetch that takes longer than MS ms in all\n"
    "                         (90000); downloads are bounded by --low-speed instead\n"
    "  --help                 show this help\n"
    "  --version              show the version\n"
    "\n"
    "Exit status: 0 when every address passed the address checks (and every download\n"
    "worked), 1 when any address did not pass, 2 for a usage error, 3 when any download\n"
    "failed.\n";

// One address's record as one JSON line, written as it is produced. Keys keep the
// documented order, which scripts rely on.
void writeRecord(json::Writer &w, const QString &address, int site, const HeadlessView &view,
                 const ExtractionResult &result, const std::optional<SaveOutcome> &saved)
{
    w.raw("{\"address\": ");
    w.string(address);
    w.raw(", \"site\": ");
    w.raw(QByteArray::number(site));
    w.raw(", \"status\": ");
    w.string(view.status);
    w.raw(", \"display\": ");
    if (const auto &plan = view.display) {
        const std::pair<const char *, QString> members[] = {
            {"{\"Label1\": ", plan->label1}, {", \"Label2\": ", plan->label2},
            {", \"Label3\": ", plan->label3}, {", \"badge\": ", badgeControlName(plan->badge)},
            {", \"cover\": ", plan->cover}, {", \"avatar\": ", plan->avatar}};
        for (const auto &[key, value] : members) {
            w.raw(key);
            w.string(value);
        }
        w.raw("}");
    } else {
        w.raw("null");
    }
    w.raw(", \"slots\": [");
    for (int i = 0; i < SlotCount; ++i) {
        if (i > 0)
            w.raw(",");
        w.string(result.ResultSlots[i]);
    }
    w.raw("]");
    if (saved && saved->error.isEmpty()) {
        w.raw(", \"file\": ");
        w.string(saved->file);
        if (saved->skipped)
            w.raw(", \"skipped\": \"exists\"");
    } else if (saved) {
        w.raw(", \"download_error\": ");
        w.string(saved->error);
    }
    w.raw("}\n");
    w.flush();
}

void printSummary(QTextStream &out, const QString &address, const HeadlessView &view,
                  const ExtractionResult &result, ExtractionOutcome outcome,
                  const std::optional<SaveOutcome> &saved)
{
    out << address << "\n";
    if (outcome != ExtractionOutcome::Extracted || !view.display) {
        out << "  状态: " << view.status << "\n";
        return;
    }
    const DisplayPlan &d = *view.display;
    out << "  作者: " << d.label1 << "\n"
        << "  描述: " << d.label2 << "\n"
        << "  日期: " << d.label3 << "\n"
        << "  视频: " << result.ResultSlots[SlotVideoUrl] << "\n"
        << "  封面: " << d.cover << "\n";
    if (saved && saved->error.isEmpty())
        out << "  文件: " << saved->file << "\n";
    else if (saved)
        out << "  下载失败: " << saved->error << "\n";
}

int usageError(const QString &message)
{
    QTextStream err(stderr);
    err << "quorvin-extract: " << message << "\n\n" << Usage;
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList args = app.arguments().mid(1);

    int site = AutoSite;
    bool json = false;
    bool download = false;
    QString outputDir = QStringLiteral(".");
    SaveOptions saveOptions;
    QStringList addresses;
    Hosts table = hosts();
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == u"--help" || arg == u"-h") {
            out << Usage;
            return 0;
        }
        if (arg == u"--version") {
            out << "quorvin-extract 1.0\n";
            return 0;
        }
        if (arg == u"--json") {
            json = true;
        } else if (arg == u"--download") {
            download = true;
        } else if (arg == u"--force-overwrite") {
            saveOptions.forceOverwrite = true;
        } else if (arg == u"--low-speed" || arg.startsWith(u"--low-speed=")) {
            const QString value = arg.contains(u'=') ? arg.section(u'=', 1) : args.value(++i);
            bool okLimit = false, okSeconds = false;
            const qint64 limit = value.section(u',', 0, 0).toLongLong(&okLimit);
            const int seconds = value.section(u',', 1).toInt(&okSeconds);
            if (!okLimit || !okSeconds || limit <= 0 || seconds <= 0)
                return usageError(QStringLiteral("--low-speed needs LIMIT,SECONDS (bytes a second, seconds)"));
            fetch::setLowSpeed(limit, seconds);
        } else if (arg == u"-o" || arg == u"--output" || arg.startsWith(u"--output=")) {
            outputDir = arg.contains(u'=') ? arg.section(u'=', 1) : args.value(++i);
            if (outputDir.isEmpty())
                return usageError(QStringLiteral("%1 needs a folder").arg(arg));
        } else if (arg == u"--site" || arg.startsWith(u"--site=")) {
            const QString value = arg.contains(u'=') ? arg.section(u'=', 1) : args.value(++i);
            site = value == u"auto" ? AutoSite : siteFromName(value);
            if (site < 0 && site != AutoSite)
                return usageError(QStringLiteral("unknown site \"%1\"").arg(value));
        } else if (arg == u"--all-hosts" || arg.startsWith(u"--all-hosts=")) {
            const QString value = arg.contains(u'=') ? arg.section(u'=', 1) : args.value(++i);
            if (value.isEmpty())
                return usageError(QStringLiteral("--all-hosts needs HOST[:PORT]"));
            table = Hosts::allOn(value);
        } else if (arg == u"--stall-timeout" || arg == u"--deadline") {
            bool ok = false;
            const int ms = args.value(++i).toInt(&ok);
            if (!ok || ms <= 0)
                return usageError(QStringLiteral("%1 needs a number of milliseconds").arg(arg));
            if (arg == u"--deadline")
                fetch::setDeadline(ms);
            else
                fetch::setTimeout(ms);
        } else if (arg == u"--") {
            addresses += args.mid(i + 1);
            break;
        } else if (arg.startsWith(u"--")) {
            return usageError(QStringLiteral("unknown option %1").arg(arg));
        } else {
            addresses << arg;
        }
    }
    if (addresses.isEmpty())
        return usageError(QStringLiteral("no address given"));

    json::Writer writer(stdout);
    ExtractionResult result;  // shared by every address, as in the window
    bool allPassed = true;
    bool allSaved = true;
    saveOptions.terminal = isatty(STDERR_FILENO);
    for (const QString &address : addresses) {
        HeadlessView view;
        view.site = site == AutoSite ? siteForAddress(address, table) : site;
        view.address = address;
        if (view.site < 0) {
            // No service recognised: reported like an address check that fired.
            view.status = QStringLiteral("没有与该地址对应的视频网站");
            std::fprintf(stderr, "quorvin-extract: no service's page prefix matches %s\n",
                         address.toUtf8().constData());
            allPassed = false;
            if (json)
                writeRecord(writer, address, -1, view, result, std::nullopt);
            else
                printSummary(out, address, view, result, ExtractionOutcome::AddressRejected, std::nullopt);
            out.flush();
            continue;
        }
        ExtractionDriver driver(result, view, table);
        const ExtractionOutcome outcome = driver.run();
        allPassed = allPassed && outcome != ExtractionOutcome::AddressRejected;
        std::optional<SaveOutcome> saved;
        if (download && outcome == ExtractionOutcome::Extracted) {
            const DisplayPlan &plan = *view.display;
            saved = saveVideo(result.ResultSlots[SlotVideoUrl], outputDir, plan.author, plan.label3, saveOptions);
            allSaved = allSaved && saved->error.isEmpty();
        }
        if (json) {
            writeRecord(writer, address, view.site, view, result, saved);
        } else {
            printSummary(out, address, view, result, outcome, saved);
            out.flush();
        }
    }
    if (!allSaved)
        return 3;
    return allPassed ? 0 : 1;
}
