// Reading a service description from TOML. Everything is checked here, once: unknown keys
// and steps, slots out of range, prefixes and hosts that do not exist, patterns that do not
// compile. The running steps then never meet a malformed description.
#include "sites/site_description.h"
#include "sites/sites.h"

#include "hosts_config.h"
#include "pattern.h"
#include "site_limits.h"
#include "toml_ascii.h"
#include "toml_bounds.h"
#include "toml_nodes.h"

#include <QRegularExpression>
#include <QSet>
#include <algorithm>

namespace {

using namespace tomlnodes;

class Reader {
public:
    explicit Reader(SiteDescription &site) : site_(site) {}

    void read(const toml::table &root)
    {
        onlyKeys(root, {"index", "caption", "name", "prefixes", "checks", "display", "step", "example", "listing"},
            QStringLiteral("the file"));
        const toml::node &index = required(root, "index", root, QStringLiteral("the file"));
        site_.index = integer(index, QStringLiteral("index"), 0, SiteCount - 1);
        site_.indexLine = lineOf(index);
        site_.caption =
            shownText(required(root, "caption", root, QStringLiteral("the file")), QStringLiteral("caption"));
        const toml::node &name = required(root, "name", root, QStringLiteral("the file"));
        site_.name = text(name, QStringLiteral("name"));
        static const QRegularExpression lowercase(QStringLiteral("^[a-z0-9]+$"));
        if (!lowercase.match(site_.name).hasMatch())
            refuse(name, QStringLiteral("name must be lowercase ASCII letters and digits"));
        readPrefixes(table(required(root, "prefixes", root, QStringLiteral("the file")), QStringLiteral("prefixes")));
        readChecks(table(required(root, "checks", root, QStringLiteral("the file")), QStringLiteral("checks")));
        readDisplay(table(required(root, "display", root, QStringLiteral("the file")), QStringLiteral("display")));
        const toml::node &steps = required(root, "step", root, QStringLiteral("the file"));
        const toml::array *list = steps.as_array();
        if (!list)
            refuse(steps, QStringLiteral("step must be a list of [[step]] tables"));
        if (list->size() > size_t(sitelimits::MaxSteps))
            refuse(steps, QStringLiteral("more than %1 steps").arg(sitelimits::MaxSteps));
        int fetches = 0;
        for (const toml::node &step : *list) {
            site_.steps.append(readStep(table(step, QStringLiteral("a step"))));
            fetches += site_.steps.last().input == Step::Fetch ? 1 : 0;
            if (fetches > sitelimits::MaxFetches)
                refuse(step, QStringLiteral("more than %1 fetch steps").arg(sitelimits::MaxFetches));
        }
        if (const toml::node *examples = root.get("example"))
            readExamples(*examples);
        if (const toml::node *listing = root.get("listing"))
            readListing(*listing);
    }

private:
    static const toml::table &table(const toml::node &node, const QString &what)
    {
        const toml::table *t = node.as_table();
        if (!t)
            refuse(node, QStringLiteral("%1 must be a table").arg(what));
        return *t;
    }

    void readPrefixes(const toml::table &prefixes)
    {
        for (const auto &[key, value] : prefixes) {
            const toml::table &p = table(value, QStringLiteral("a prefix"));
            onlyKeys(p, {"host", "path"}, QStringLiteral("a prefix"));
            Prefix prefix;
            prefix.line = lineOf(value);
            prefix.hostVariable = text(required(p, "host", value, QStringLiteral("a prefix")), QStringLiteral("host"));
            if (!knownHost(prefix.hostVariable))
                refuse(value, QStringLiteral("unknown host \"%1\"").arg(prefix.hostVariable));
            if (const toml::node *path = p.get("path"))
                prefix.path = text(*path, QStringLiteral("path"));
            site_.prefixes.insert(qs(key.str()), prefix);
        }
        if (!site_.prefixes.contains(QStringLiteral("page")))
            refuse(prefixes, QStringLiteral("prefixes needs \"page\", the share-page prefix"));
    }

    void readChecks(const toml::table &checks)
    {
        onlyKeys(checks, {"empty", "wrong_prefix", "only_prefix"}, QStringLiteral("checks"));
        site_.checkEmpty =
            shownText(required(checks, "empty", checks, QStringLiteral("checks")), QStringLiteral("empty"));
        site_.checkWrongPrefix = shownText(
            required(checks, "wrong_prefix", checks, QStringLiteral("checks")), QStringLiteral("wrong_prefix"));
        site_.checkOnlyPrefix =
            shownText(required(checks, "only_prefix", checks, QStringLiteral("checks")), QStringLiteral("only_prefix"));
    }

    void readDisplay(const toml::table &d)
    {
        onlyKeys(d, {"author", "author_cut", "description", "date", "cover", "avatar", "badge", "avatar_via_file"},
            QStringLiteral("display"));
        DisplayRow &row = site_.display;
        const auto slotOf = [&](const char *key, int &into) {
            into = slotNumber(required(d, key, d, QStringLiteral("display")), QString::fromLatin1(key));
        };
        slotOf("author", row.author);
        slotOf("description", row.description);
        slotOf("date", row.date);
        slotOf("cover", row.cover);
        slotOf("avatar", row.avatar);
        row.authorCut =
            integer(required(d, "author_cut", d, QStringLiteral("display")), QStringLiteral("author_cut"), 1, 1000);
        if (const toml::node *via = d.get("avatar_via_file")) {
            if (!via->is_boolean())
                refuse(*via, QStringLiteral("avatar_via_file must be true or false"));
            row.avatarViaFile = **via->as_boolean();
        }
        if (const toml::node *badge = d.get("badge")) {
            const toml::table &b = table(*badge, QStringLiteral("badge"));
            onlyKeys(b, {"kind", "control", "marker", "offset"}, QStringLiteral("badge"));
            row.badgeKind = badgeKind(b, *badge);
            row.badgeMarker = text(required(b, "marker", *badge, QStringLiteral("badge")), QStringLiteral("marker"));
            if (const toml::node *offset = b.get("offset"))
                row.badgeOffset = integer(*offset, QStringLiteral("offset"), -100, 100);
        }
    }

    // The badge's kind. Descriptions written before kinds had names named the window's picture
    // control instead ("control"); the window numbers the 微视 badge's picture 8 and the 秒拍
    // badge's 4, so such a name is still read, as the kind of its number.
    static QString badgeKind(const toml::table &b, const toml::node &badge)
    {
        const toml::node *kind = b.get("kind");
        const toml::node *control = b.get("control");
        if (!kind && !control)
            refuse(badge, QStringLiteral("badge needs \"kind\""));
        const QString old = control ? text(*control, QStringLiteral("control")) : QString();
        QString name = kind      ? text(*kind, QStringLiteral("kind"))
            : old.endsWith(u'8') ? QStringLiteral("weishi")
            : old.endsWith(u'4') ? QStringLiteral("miaopai")
                                 : old;
        if (name != u"weishi" && name != u"miaopai")
            refuse(kind ? *kind : *control, QStringLiteral("no badge kind \"%1\" (weishi, miaopai)").arg(name));
        return name;
    }

    ValueRef reference(const toml::node &node, bool target)
    {
        ValueRef ref;
        if (node.is_integer()) {
            ref.slot = slotNumber(node, target ? QStringLiteral("to") : QStringLiteral("from"));
            return ref;
        }
        const QString name = text(node, target ? QStringLiteral("to") : QStringLiteral("from"));
        if (name == u"page") {
            ref.slot = SlotPage;
        } else if (name == u"address" && target) {
            refuse(node, QStringLiteral("the address box cannot be written"));
        } else if (name.isEmpty() || !name.front().isLetter()) {
            refuse(node, QStringLiteral("\"%1\" is not a slot number or a name").arg(name));
        } else if (!target && name != u"address" && !named_.contains(name)) {
            refuse(node, QStringLiteral("\"%1\" is read before a step writes it").arg(name));
        }
        ref.name = ref.slot < 0 ? name : QString();
        if (target && ref.slot < 0)
            named_.insert(name);
        return ref;
    }

    Template parseTemplate(const toml::node &node, const QString &what)
    {
        Template t;
        t.source = text(node, what);
        const QString &s = t.source;
        QString literal;
        const auto flush = [&] {
            if (!literal.isEmpty())
                t.parts.append({Template::Part::Literal, literal, -1});
            literal.clear();
        };
        for (qsizetype i = 0; i < s.size(); ++i) {
            if (s[i] == u'}' && i + 1 < s.size() && s[i + 1] == u'}') {
                literal += u'}';
                ++i;
            } else if (s[i] != u'{') {
                literal += s[i];
            } else if (i + 1 < s.size() && s[i + 1] == u'{') {
                literal += u'{';
                ++i;
            } else {
                const qsizetype end = s.indexOf(u'}', i);
                if (end < 0)
                    refuse(node, QStringLiteral("a \"{\" without its \"}\" in %1 (write {{ for a brace)").arg(what));
                flush();
                t.parts.append(placeholder(node, s.mid(i + 1, end - i - 1)));
                i = end;
            }
        }
        flush();
        return t;
    }

    Template::Part placeholder(const toml::node &node, const QString &inside)
    {
        Template::Part part;
        bool number = false;
        part.slot = inside.toInt(&number);
        if (number) {
            if (part.slot < 0 || part.slot >= SlotCount)
                refuse(node, QStringLiteral("slot {%1} out of range 0-%2").arg(inside).arg(SlotCount - 1));
            part.kind = Template::Part::Slot;
        } else if (inside.startsWith(u"prefix:")) {
            part.kind = Template::Part::Prefix;
            part.text = inside.mid(7);
            if (!site_.prefixes.contains(part.text))
                refuse(node, QStringLiteral("unknown prefix {%1}").arg(inside));
        } else if (inside.startsWith(u"host:")) {
            part.kind = Template::Part::Host;
            part.text = inside.mid(5);
            if (!knownHost(part.text))
                refuse(node, QStringLiteral("unknown host {%1}").arg(inside));
        } else if (inside == u"page") {
            part.kind = Template::Part::Slot;
            part.slot = SlotPage;
        } else if (inside == u"address") {
            part.kind = Template::Part::Address;
        } else if (named_.contains(inside)) {
            part.kind = Template::Part::Name;
            part.text = inside;
        } else {
            refuse(node, QStringLiteral("unknown placeholder {%1}").arg(inside));
        }
        return part;
    }

    StepOp readOp(const toml::node &node)
    {
        const toml::table &t = table(node, QStringLiteral("an operation"));
        if (t.size() != 1)
            refuse(node,
                QStringLiteral("an operation is one of piece, from_marker, cut, upto, trim, remove, replace, "
                               "preg, prepend, append, unescape"));
        const auto first = t.cbegin();
        const toml::node &value = first->second;
        const QString name = qs(first->first.str());
        static const QMap<QString, StepOp::Kind> kinds = {{QStringLiteral("piece"), StepOp::Piece},
            {QStringLiteral("from_marker"), StepOp::FromMarker}, {QStringLiteral("cut"), StepOp::Cut},
            {QStringLiteral("upto"), StepOp::UpTo}, {QStringLiteral("trim"), StepOp::Trim},
            {QStringLiteral("remove"), StepOp::Remove}, {QStringLiteral("replace"), StepOp::Replace},
            {QStringLiteral("preg"), StepOp::Preg}, {QStringLiteral("prepend"), StepOp::Prepend},
            {QStringLiteral("append"), StepOp::Append}, {QStringLiteral("unescape"), StepOp::Unescape}};
        if (!kinds.contains(name))
            refuse(value, QStringLiteral("unknown step \"%1\"").arg(name));
        StepOp op;
        op.kind = kinds.value(name);
        if (op.kind == StepOp::Trim) {
            if (!value.is_boolean() || !**value.as_boolean())
                refuse(value, QStringLiteral("trim is written trim = true"));
        } else if (op.kind == StepOp::Unescape) {
            // A JSON string's escapes (\" \\ \/ \n \uXXXX...) as the characters they stand for.
            if (text(value, name) != u"json")
                refuse(value, QStringLiteral("unescape is written unescape = \"json\""));
        } else if (op.kind == StepOp::Replace || op.kind == StepOp::Preg) {
            const toml::array *pair = value.as_array();
            if (!pair || pair->size() != 2)
                refuse(value, QStringLiteral("%1 takes two texts: [what, by what]").arg(name));
            // A pattern is taken as written: its braces are the pattern's own.
            op.text =
                op.kind == StepOp::Preg ? Template {{}, text(*pair->get(0), name)} : parseTemplate(*pair->get(0), name);
            op.replacement = text(*pair->get(1), name);
            if (op.kind == StepOp::Preg) {
                if (++patterns_ > sitelimits::MaxPatterns)
                    refuse(value, QStringLiteral("more than %1 patterns").arg(sitelimits::MaxPatterns));
                QString why;
                std::optional<Pattern> compiled = Pattern::compile(op.text.source, op.replacement, &why);
                if (!compiled)
                    refuse(value, why);
                op.pattern = std::make_shared<const Pattern>(std::move(*compiled));
                // An empty match with something to put in its place grows every value.
                if (!op.replacement.isEmpty() && op.pattern->matchesEmpty())
                    refuse(value, QStringLiteral("the pattern matches an empty text and the replacement is not empty"));
            }
        } else {
            op.text = parseTemplate(value, name);
        }
        const bool needsTarget = op.kind == StepOp::Piece || op.kind == StepOp::Cut || op.kind == StepOp::UpTo ||
            op.kind == StepOp::Remove || op.kind == StepOp::Replace;
        if (needsTarget && op.text.parts.isEmpty())
            refuse(value, QStringLiteral("%1 needs a marker that is not empty").arg(name));
        return op;
    }

    Step readStep(const toml::table &t)
    {
        onlyKeys(t, {"to", "from", "fetch", "text", "do"}, QStringLiteral("a step"));
        Step step;
        step.line = lineOf(t);
        const int inputs = int(t.contains("from")) + int(t.contains("fetch")) + int(t.contains("text"));
        if (inputs != 1)
            refuse(t, QStringLiteral("a step takes its text from exactly one of from, fetch, text"));
        if (const toml::node *from = t.get("from")) {
            step.from = reference(*from, false);
        } else if (const toml::node *fetch = t.get("fetch")) {
            step.input = Step::Fetch;
            step.address = parseTemplate(*fetch, QStringLiteral("fetch"));
            ownHostOnly(*fetch, step.address);
        } else {
            step.input = Step::Text;
            step.address = parseTemplate(*t.get("text"), QStringLiteral("text"));
        }
        if (const toml::node *ops = t.get("do")) {
            const toml::array *list = ops->as_array();
            if (!list)
                refuse(*ops, QStringLiteral("do must be a list of operations"));
            for (const toml::node &op : *list)
                step.ops.append(readOp(op));
        }
        step.to = reference(required(t, "to", t, QStringLiteral("a step")), true);
        return step;
    }

    void readExamples(const toml::node &node)
    {
        const toml::array *list = node.as_array();
        if (!list)
            refuse(node, QStringLiteral("example must be a list of [[example]] tables"));
        if (list->size() > size_t(sitelimits::MaxExamples))
            refuse(node, QStringLiteral("more than %1 examples").arg(sitelimits::MaxExamples));
        QSet<QString> fetchTargets;
        for (const Step &step : std::as_const(site_.steps)) {
            if (step.input == Step::Fetch)
                fetchTargets << (step.to.slot >= 0 ? QString::number(step.to.slot) : step.to.name);
        }
        for (const toml::node &item : *list) {
            const toml::table &t = table(item, QStringLiteral("an example"));
            onlyKeys(t, {"page", "address", "answers", "expect"}, QStringLiteral("an example"));
            SiteExample example;
            example.line = lineOf(t);
            example.page = folderPath(required(t, "page", item, QStringLiteral("an example")));
            if (const toml::node *address = t.get("address"))
                example.address = text(*address, QStringLiteral("address"));
            if (const toml::node *answers = t.get("answers")) {
                for (const auto &[key, value] : table(*answers, QStringLiteral("answers"))) {
                    if (!fetchTargets.contains(qs(key.str())))
                        refuse(value, QStringLiteral("no fetch step writes \"%1\"").arg(qs(key.str())));
                    example.answers.insert(qs(key.str()), folderPath(value));
                }
            }
            for (const auto &[key, value] :
                table(required(t, "expect", item, QStringLiteral("an example")), QStringLiteral("expect")))
                example.expect.append({qs(key.str()), expected(qs(key.str()), value)});
            site_.examples.append(example);
        }
    }

    void readListing(const toml::node &node)
    {
        const toml::table &t = table(node, QStringLiteral("listing"));
        onlyKeys(t, {"address", "first", "then", "item", "last", "about", "work", "next", "link", "example"},
            QStringLiteral("listing"));
        SiteListing l;
        l.line = lineOf(node);
        const toml::node &address = required(t, "address", node, QStringLiteral("listing"));
        l.address = text(address, QStringLiteral("address"));
        if (!site_.prefixes.contains(l.address) || !site_.prefixes.value(l.address).path.startsWith(u'/'))
            refuse(address, QStringLiteral("address must name a prefix whose path begins with \"/\""));
        l.item = text(required(t, "item", node, QStringLiteral("listing")), QStringLiteral("item"));
        if (l.item.isEmpty())
            refuse(node, QStringLiteral("item needs a marker that is not empty"));
        if (const toml::node *last = t.get("last"))
            l.last = text(*last, QStringLiteral("last"));
        named_ = {QStringLiteral("uid"), QStringLiteral("next"), QStringLiteral("number")};
        if (const toml::node *first = t.get("first")) {
            l.first = parseTemplate(*first, QStringLiteral("first"));
            ownHostOnly(*first, l.first);
        }
        if (const toml::node *then = t.get("then")) {
            l.then = parseTemplate(*then, QStringLiteral("then"));
            ownHostOnly(*then, l.then);
            l.numbered = std::any_of(l.then.parts.cbegin(), l.then.parts.cend(),
                [](const Template::Part &p) { return p.kind == Template::Part::Name && p.text == u"number"; });
        }
        l.about = listingSteps(t, "about");
        l.work = listingSteps(t, "work");
        l.next = listingSteps(t, "next");
        l.link = listingSteps(t, "link");
        if (!l.then.parts.isEmpty() && !l.numbered && l.next.isEmpty())
            refuse(node, QStringLiteral("then reads {next} or {number}; {next} needs next steps"));
        if (std::none_of(l.work.cbegin(), l.work.cend(), [](const Step &s) { return s.to.name == u"url"; }))
            refuse(node, QStringLiteral("the work steps must write \"url\", the work's share address"));
        if (const toml::node *examples = t.get("example"))
            l.examples = listingExamples(*examples);
        site_.listing = l;
    }

    // A group of the listing's steps, none of which fetches. Besides the names the listing
    // reads, a step may write a name or a slot of its own as scratch.
    QList<Step> listingSteps(const toml::table &t, const char *key)
    {
        QList<Step> steps;
        const toml::node *group = t.get(key);
        if (!group)
            return steps;
        const toml::array *list = group->as_array();
        if (!list)
            refuse(*group, QStringLiteral("listing.%1 must be a list of steps").arg(QLatin1String(key)));
        if (list->size() > size_t(sitelimits::MaxSteps))
            refuse(*group, QStringLiteral("more than %1 steps").arg(sitelimits::MaxSteps));
        named_ = {QStringLiteral("uid")};
        for (const toml::node &node : *list) {
            Step step = readStep(table(node, QStringLiteral("a step")));
            if (step.input == Step::Fetch)
                refuse(node, QStringLiteral("a listing's steps do not fetch"));
            steps.append(step);
        }
        return steps;
    }

    QList<ListingExample> listingExamples(const toml::node &node)
    {
        const toml::array *list = node.as_array();
        if (!list)
            refuse(node, QStringLiteral("listing.example must be a list of tables"));
        if (list->size() > size_t(sitelimits::MaxExamples))
            refuse(node, QStringLiteral("more than %1 examples").arg(sitelimits::MaxExamples));
        QList<ListingExample> out;
        for (const toml::node &item : *list) {
            const toml::table &t = table(item, QStringLiteral("a listing example"));
            onlyKeys(t, {"page", "works", "share", "uid", "expect"}, QStringLiteral("a listing example"));
            ListingExample e;
            e.line = lineOf(t);
            if (const toml::node *page = t.get("page"))
                e.page = folderPath(*page);
            if (const toml::node *works = t.get("works"))
                e.works = folderPath(*works);
            if (const toml::node *share = t.get("share"))
                e.share = folderPath(*share);
            if (const toml::node *uid = t.get("uid"))
                e.uid = text(*uid, QStringLiteral("uid"));
            for (const auto &[key, value] :
                table(required(t, "expect", item, QStringLiteral("a listing example")), QStringLiteral("expect"))) {
                const QString field = qs(key.str());
                if (std::none_of(std::begin(ListingExampleFields), std::end(ListingExampleFields),
                        [&](const char *known) { return field == QLatin1String(known); }))
                    refuse(value, QStringLiteral("a listing example cannot expect \"%1\"").arg(field));
                e.expect.append(
                    {field, value.is_integer() ? QString::number(**value.as_integer()) : text(value, field)});
            }
            out.append(e);
        }
        return out;
    }

    static QString folderPath(const toml::node &node)
    {
        QString path = text(node, QStringLiteral("a file"));
        if (!isFolderPath(path))
            refuse(node, QStringLiteral("\"%1\" is not a file of the description's folder").arg(path));
        return path;
    }

    static QString expected(const QString &field, const toml::node &value)
    {
        if (!std::any_of(std::begin(ExampleFields), std::end(ExampleFields),
                [&](const char *known) { return field == QLatin1String(known); }))
            refuse(value, QStringLiteral("an example cannot expect \"%1\"").arg(field));
        if (field == u"verified") {
            if (!value.is_boolean())
                refuse(value, QStringLiteral("verified must be true or false"));
            return **value.as_boolean() ? QStringLiteral("true") : QStringLiteral("false");
        }
        return text(value, field);
    }

    // A fetch reaches only the service's own hosts: it begins with a prefix whose host is
    // complete (its path starts with "/"), so whatever follows, from the page or a slot,
    // lands after the host and a "/".
    void ownHostOnly(const toml::node &node, const Template &address) const
    {
        const Template::Part *first = address.parts.isEmpty() ? nullptr : &address.parts.first();
        if (!first || first->kind != Template::Part::Prefix)
            refuse(node, QStringLiteral("a fetch must begin with one of the service's prefixes ({prefix:...})"));
        if (!site_.prefixes.value(first->text).path.startsWith(u'/'))
            refuse(node,
                QStringLiteral("the prefix {prefix:%1} does not end its host with \"/\", so it cannot begin a fetch")
                    .arg(first->text));
    }

    SiteDescription &site_;
    QSet<QString> named_;
    int patterns_ = 0;
};

}  // namespace

std::optional<SiteDescription> parseSiteDescription(const QByteArray &bytes, const QString &file, LoadError *error)
{
    if (!QByteArrayView(bytes).isValidUtf8()) {
        if (error)
            *error = {firstBadUtf8Line(bytes), QStringLiteral("not UTF-8 text")};
        return std::nullopt;
    }
    const QString text = QString::fromUtf8(bytes);
    AsciiOnly ascii(text);
    std::optional<LoadError> refused = ascii.run();
    if (!refused)
        refused = tomlOutOfBounds(text, ascii.out());
    if (refused) {
        if (error)
            *error = *refused;
        return std::nullopt;
    }
    const std::string_view view(ascii.out().constData(), size_t(ascii.out().size()));
    toml::parse_result parsed = toml::parse(view, file.toStdString());
    if (!parsed) {
        if (error)
            *error = {int(parsed.error().source().begin.line), qs(parsed.error().description()),
                int(parsed.error().source().begin.column)};
        return std::nullopt;
    }
    SiteDescription site;
    site.file = file;
    try {
        Reader(site).read(parsed.table());
    } catch (const Refusal &refusal) {
        if (error)
            *error = {refusal.line, refusal.reason, refusal.column};
        return std::nullopt;
    }
    return site;
}

bool isFolderPath(const QString &path)
{
    static const QRegularExpression allowed(
        QStringLiteral("^[A-Za-z0-9_-][A-Za-z0-9._-]*(/[A-Za-z0-9_-][A-Za-z0-9._-]*)*$"));
    return path.size() <= 200 && allowed.match(path).hasMatch() && !path.split(u'/').contains(QStringLiteral(".."));
}

QString prefixAddress(const SiteDescription &site, const QString &key, const Hosts &h)
{
    const Prefix prefix = site.prefixes.value(key);
    return QStringLiteral("http://") + h.host(prefix.hostVariable) + prefix.path;
}
