#include "display.h"

#include "sites.h"
#include "textcuts.h"

namespace {

struct Row {
    int author;
    int authorCut;
    int description;
    int date;
    int cover;
    int avatar;
    Badge badge;
    const char *badgeMarker;
    int badgeOffset;
};

Row rowFor(int site)
{
    switch (site) {
    case Weishi: return {SlotAuthor, 20, SlotDescription, SlotDate, SlotCoverUrl, SlotAvatarUrl, Badge::Weishi, "vip", 0};
    case Kuaishou: return {12, 8, 4, 6, 10, 8, Badge::None, nullptr, 0};
    case Miaopai: return {SlotAuthor, 20, SlotDescription, SlotDate, SlotCoverUrl, SlotAvatarUrl, Badge::Miaopai, "v.png", 5};
    default: return {SlotAuthor, 8, SlotDescription, SlotDate, SlotCoverUrl, SlotAvatarUrl, Badge::None, nullptr, 0};
    }
}

}  // namespace

DisplayPlan planDisplay(int site, const Slots &rs, const Hosts &h)
{
    const Row row = rowFor(site);
    DisplayPlan plan;
    plan.site = site;
    plan.author = rs[row.author];
    plan.description = rs[row.description];
    plan.label1 = cuts::displayCut(rs[row.author], row.authorCut);
    const QString &description = rs[row.description];
    plan.label2 = description.isEmpty() ? NoDescriptionText : cuts::displayCut(description, 20);
    plan.label3 = rs[row.date];
    if (row.badge != Badge::None) {
        const bool marked = rs[SlotPage].contains(QString::fromUtf8(row.badgeMarker));
        const bool always = !h.AlwaysVerifiedAuthor.isEmpty() &&
                            plan.label1.contains(h.AlwaysVerifiedAuthor);
        if (marked || always) {
            plan.badge = row.badge;
            plan.badgeOffset = row.badgeOffset;
        }
    }
    plan.cover = rs[row.cover];
    plan.avatar = rs[row.avatar];
    plan.avatarViaFile = site == Kuaishou;
    return plan;
}

QString badgeControlName(Badge badge)
{
    switch (badge) {
    case Badge::Weishi: return QStringLiteral("aicAlphaImage8");
    case Badge::Miaopai: return QStringLiteral("aicAlphaImage4");
    case Badge::None: break;
    }
    return QString();
}
