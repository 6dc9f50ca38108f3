// The five services as their descriptions describe them. Three sources, the first that has a
// service's description wins: the user's own files, then the last verified description set
// (a signed update kept under $XDG_DATA_HOME), then the built-in files (compiled in).
#pragma once

#include "record/extractor.h"
#include "sites/site_bundle.h"
#include "sites/site_description.h"
#include "sites/sites.h"

#include <QHash>
#include <QList>
#include <array>
#include <memory>

// The descriptions in use at one moment. An extraction keeps the set it started with: a set
// replaced while one of its fetches waits is freed only when that extraction ends.
struct SiteSet {
    std::array<std::optional<SiteDescription>, SiteCount> sites;
    int version = 0;  // of the verified update in use, else of the built-in set
    const SiteDescription *get(int site) const
    {
        return site >= 0 && site < SiteCount && sites[size_t(site)] ? &*sites[size_t(site)] : nullptr;
    }
};

// The folder whose files replace the built-in descriptions:
// $XDG_CONFIG_HOME/quorvin-video-helper/sites (NAME.toml, or NAME/NAME.toml with examples).
QString userSitesFolder();

// Loads the descriptions now: the built-in files, the verified set kept by the last update and
// the files of overrideFolder (empty: none). A file that does not load is reported on standard
// error with its path, line and reason, and the next source is used. Without a call, the first
// use loads them with the user's folder.
void loadSiteDescriptions(const QString &overrideFolder);
// The same again with the folder of the last load (after an update was stored).
void reloadSiteDescriptions();

// Loads the descriptions with the user's folder on a thread of their own, beside the
// program's start; the first use of the descriptions waits for that load to end, and so does
// the destructor.
class SiteDescriptionsPreload {
public:
    SiteDescriptionsPreload();
    ~SiteDescriptionsPreload();
    SiteDescriptionsPreload(const SiteDescriptionsPreload &) = delete;
    SiteDescriptionsPreload &operator=(const SiteDescriptionsPreload &) = delete;
};

// The description files refused at the last load ("meipai.toml"), for the window's status
// line; each was reported on standard error with its path, line, column and reason.
QStringList refusedSiteFiles();

// The set in use; keep it for as long as its descriptions are read.
std::shared_ptr<const SiteSet> currentSites();

// The description of the service of a selector index in the set in use (valid until the next
// load); nullptr for an unknown index.
const SiteDescription *siteDescription(int site);

// The version of the built-in set (sites/set.toml).
int builtInSetVersion();

// The descriptions of a set of files (NAME/NAME.toml for each of the five services it holds),
// each read with every check of a description file and its examples' files kept with it; no
// value, with the reason, when one does not load or names another service.
std::optional<SiteSet> descriptionsOf(const std::shared_ptr<const sitebundle::SiteFiles> &files, QString *why);

// The prefix of a service ("page", "avatar"...), as an address.
QString sitePrefix(int site, const QString &key, const Hosts &h);

// Runs the steps of the service of a site index; false for an unknown index.
bool extractSite(int site, Slots &rs, const ExtractorContext &ctx);

// How a run of the steps ended: all of them ran, or the work budget or the page deadline ran
// out and the rest were skipped.
enum class StepsEnd { Done, WorkLimit, Deadline };

// A run of a service's steps that waits for its fetches instead of making them: advance runs
// steps until one needs a page and gives that page's address (none when every step ran);
// answer gives the step its page (none when the fetch failed, failure saying why), and the
// next advance goes on. With a context that answers fetches itself (GetBody, fetchAnswer or
// stepAnswer), advance runs every step at once. The site, record and context outlive the run.
class StepRun {
public:
    StepRun(const SiteDescription &site, Slots &rs, const ExtractorContext &ctx, QList<StepTrace> *trace = nullptr);
    ~StepRun();
    StepRun(const StepRun &) = delete;
    StepRun &operator=(const StepRun &) = delete;

    std::optional<QString> advance();
    void answer(const std::optional<QString> &page, const QString &failure = QString());
    StepsEnd end() const;

private:
    struct State;
    void record(const Step &step, const QString &marker, const std::optional<QString> &v, const QString &why);
    std::unique_ptr<State> state_;
    QList<StepTrace> *trace_;
};

// Runs steps that do not fetch over one text (the "page" they read), with the given named
// values ("uid") known from the start; the named values at the end. Under the same caps and
// work budget as an extraction.
QHash<QString, QString> cutNamed(const SiteDescription &site, const QList<Step> &steps, const QString &text,
    const ExtractorContext &ctx, const QHash<QString, QString> &given = {});

// Runs a service's steps on the record. With trace, each step that ran is recorded.
StepsEnd runSteps(
    const SiteDescription &site, Slots &rs, const ExtractorContext &ctx, QList<StepTrace> *trace = nullptr);
