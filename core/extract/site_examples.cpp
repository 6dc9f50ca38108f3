#include "extract/site_examples.h"

#include "extract/author_listing.h"
#include "extract/driver.h"
#include "extract/headless_view.h"
#include "hosts_config.h"

#include <functional>

namespace {

Hosts makeExampleHosts()
{
    // The real services' hosts, so that a saved page can be kept as it was served.
    Hosts h;
    for (const hostconfig::HostVariable &v : hostconfig::ServiceHosts)
        h.variables.insert(QString::fromLatin1(v.name), QString::fromLatin1(v.value));
    return h;
}

// What the command line's JSON would say of the extraction, by field name.
QString fieldOf(
    const QString &field, ExtractionOutcome outcome, const ExtractionResult &result, const HeadlessView &view)
{
    const DisplayPlan d = view.display.value_or(DisplayPlan());
    if (field == u"video_url")
        return outcome == ExtractionOutcome::Extracted ? result.ResultSlots[SlotVideoUrl] : QString();
    if (field == u"cover_url")
        return d.cover;
    if (field == u"avatar_url")
        return d.avatarUrl();
    if (field == u"author")
        return d.author;
    if (field == u"description")
        return d.description;
    if (field == u"date")
        return d.date;
    if (field == u"verified")
        return d.badge != Badge::None ? QStringLiteral("true") : QStringLiteral("false");
    return view.status;
}

// The first expected field whose value differs from what got gives, into out.
void compare(ExampleOutcome &out, const QList<std::pair<QString, QString>> &expect,
    const std::function<QString(const QString &field)> &got)
{
    for (const auto &[field, value] : expect) {
        const QString want = withExampleHosts(value);
        const QString gave = got(field);
        if (gave != want) {
            out.field = field;
            out.want = want;
            out.got = gave;
            return;
        }
    }
}

ExampleOutcome runExample(const SiteDescription &site, const SiteExample &example)
{
    // Named by its page and its answer files: two examples of one page may differ in these.
    QStringList answerFiles;
    for (auto it = example.answers.cbegin(); it != example.answers.cend(); ++it)
        answerFiles << it.key() + QStringLiteral(": ") + it.value();
    const QString name = answerFiles.isEmpty()
        ? example.page
        : example.page + QStringLiteral(" (") + answerFiles.join(QStringLiteral(", ")) + u')';
    ExampleOutcome out {name, example.line, {}, {}, {}, {}};
    const std::optional<QByteArray> page = site.readFile ? site.readFile(example.page) : std::nullopt;
    if (!page) {
        out.error = QStringLiteral("cannot read ") + example.page;
        return out;
    }
    QMap<QString, QString> answers;
    for (auto it = example.answers.cbegin(); it != example.answers.cend(); ++it) {
        const std::optional<QByteArray> answer = site.readFile(it.value());
        if (!answer) {
            out.error = QStringLiteral("cannot read ") + it.value();
            return out;
        }
        answers.insert(it.key(), withExampleHosts(QString::fromUtf8(*answer)));
    }
    auto set = std::make_shared<SiteSet>();
    set->sites[size_t(site.index)] = site;
    HeadlessView view;
    view.site = site.index;
    view.address = prefixAddress(site, QStringLiteral("page"), exampleHosts()) + withExampleHosts(example.address);
    ExtractionResult result;
    const QString pageText = withExampleHosts(QString::fromUtf8(*page));
    ExtractionDriver driver(
        result, view, exampleHosts(), [&pageText](const QString &) { return std::optional<QString>(pageText); });
    driver.setSites(set);
    driver.setStepAnswers([&answers](const QString &target) -> std::optional<QString> {
        const auto it = answers.constFind(target);
        return it == answers.cend() ? std::nullopt : std::optional(*it);
    });
    const ExtractionOutcome outcome = driver.run(view.site, view.address);
    compare(out, example.expect, [&](const QString &field) { return fieldOf(field, outcome, result, view); });
    return out;
}

// What a listing example's files give, by field name.
QString listingField(const QString &field, const ListedAuthor &author, const ListingPage &page, const QString &uid,
    const QString &uploaderUrl)
{
    const ListedWork none;
    const ListedWork &first = page.works.isEmpty() ? none : page.works.first();
    if (field == u"name")
        return author.name;
    if (field == u"avatar")
        return author.avatar;
    if (field == u"works")
        return QString::number(page.works.size());
    if (field == u"first_id")
        return first.id;
    if (field == u"first_url")
        return first.address;
    if (field == u"first_description")
        return first.description;
    if (field == u"first_cover")
        return first.cover;
    if (field == u"first_date")
        return first.date;
    if (field == u"last_id")
        return page.works.isEmpty() ? QString() : page.works.last().id;
    if (field == u"next")
        return page.next;
    if (field == u"uid")
        return uid;
    return uploaderUrl;
}

ExampleOutcome runListingExample(const SiteDescription &site, const ListingExample &example)
{
    QStringList files;
    for (const QString &file : {example.page, example.works, example.share}) {
        if (!file.isEmpty())
            files << file;
    }
    ExampleOutcome out {QStringLiteral("listing ") + files.join(QStringLiteral(", ")), example.line, {}, {}, {}, {}};
    QHash<QString, QString> text;
    for (const QString &file : std::as_const(files)) {
        const std::optional<QByteArray> bytes = site.readFile ? site.readFile(file) : std::nullopt;
        if (!bytes) {
            out.error = QStringLiteral("cannot read ") + file;
            return out;
        }
        text.insert(file, withExampleHosts(QString::fromUtf8(*bytes)));
    }
    const Hosts &h = exampleHosts();
    const QString address = prefixAddress(site, site.listing->address, h) + example.uid;
    const ListedAuthor author = readAuthorPage(site, text.value(example.page), address, example.uid, h);
    const ListingPage page = readListingPage(
        site, text.value(example.works.isEmpty() ? example.page : example.works), address, example.uid, h);
    const QString uid = linkedAuthorId(site, text.value(example.share), h);
    const QString uploaderUrl = uid.isEmpty() ? QString() : prefixAddress(site, site.listing->address, h) + uid;
    compare(
        out, example.expect, [&](const QString &field) { return listingField(field, author, page, uid, uploaderUrl); });
    return out;
}

// A value shown on one line: line breaks and quotes written as in JSON.
QString quoted(QString text)
{
    text.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
    text.replace(u'\n', QStringLiteral("\\n"))
        .replace(u'\r', QStringLiteral("\\r"))
        .replace(u'\t', QStringLiteral("\\t"));
    return u'"' + text + u'"';
}

}  // namespace

const Hosts &exampleHosts()
{
    static const Hosts table = makeExampleHosts();
    return table;
}

QString withExampleHosts(QString text)
{
    if (!text.contains(QStringLiteral("{{")))
        return text;
    for (const hostconfig::HostVariable &v : hostconfig::ServiceHosts)
        text.replace(QStringLiteral("{{") + QLatin1String(v.name) + QStringLiteral("}}"), QLatin1String(v.value));
    return text;
}

QList<ExampleOutcome> runExamples(const SiteDescription &site)
{
    QList<ExampleOutcome> outcomes;
    for (const SiteExample &example : site.examples)
        outcomes << runExample(site, example);
    if (site.listing) {
        for (const ListingExample &example : site.listing->examples)
            outcomes << runListingExample(site, example);
    }
    if (outcomes.isEmpty())
        outcomes << ExampleOutcome {site.file, 0, {}, {}, {}, QStringLiteral("no examples")};
    return outcomes;
}

QString describeOutcome(const ExampleOutcome &o)
{
    if (!o.error.isEmpty())
        return o.page + QStringLiteral(": ") + o.error;
    if (o.passed())
        return o.page + QStringLiteral(": pass");
    return o.page + QStringLiteral(": ") + o.field + QStringLiteral(" differs: want ") + quoted(o.want) +
        QStringLiteral(", got ") + quoted(o.got);
}
