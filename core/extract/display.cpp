#include "extract/display.h"

#include "extract/readable_text.h"
#include "sites/site_registry.h"
#include "sites/textcuts.h"

DisplayPlan planDisplay(int site, const Slots &rs, const Hosts &h, std::bitset<SlotCount> builtFromEmpty)
{
    return planDisplay(siteDescription(site), site, rs, h, builtFromEmpty);
}

DisplayPlan planDisplay(
    const SiteDescription *d, int site, const Slots &rs, const Hosts &h, std::bitset<SlotCount> builtFromEmpty)
{
    const DisplayRow row = d ? d->display : DisplayRow();
    DisplayPlan plan;
    plan.site = site;
    // Texts as people read them, before anything is cut from them or looked for in them.
    plan.author = readableText(rs[row.author]);
    plan.description = readableText(rs[row.description]);
    plan.authorCaption = cuts::displayCut(plan.author, row.authorCut);
    plan.descriptionCaption = plan.description.isEmpty() ? NoDescriptionText : cuts::displayCut(plan.description, 20);
    plan.date = readableText(rs[row.date]);
    plan.shownDate = cuts::displayCut(plan.date, MaxShownDateUnits);
    const Badge badge = row.badgeKind == u"weishi" ? Badge::Weishi
        : row.badgeKind == u"miaopai"              ? Badge::Miaopai
                                                   : Badge::None;
    if (badge != Badge::None) {
        const bool marked = rs[SlotPage].contains(row.badgeMarker);
        const bool always = !h.AlwaysVerifiedAuthor.isEmpty() && plan.authorCaption.contains(h.AlwaysVerifiedAuthor);
        if (marked || always) {
            plan.badge = badge;
            plan.badgeOffset = row.badgeOffset;
        }
    }
    plan.cover = rs[row.cover];
    plan.avatar = rs[row.avatar];
    plan.avatarViaFile = row.avatarViaFile;
    plan.loadCover = !builtFromEmpty.test(size_t(row.cover));
    plan.loadAvatar = !builtFromEmpty.test(size_t(row.avatar));
    return plan;
}

QString badgeKindName(Badge badge)
{
    switch (badge) {
    case Badge::Weishi: return QStringLiteral("weishi");
    case Badge::Miaopai: return QStringLiteral("miaopai");
    case Badge::None: break;
    }
    return QString();
}
