// Meipai: six fields cut straight out of the media page.
#include "extractor.h"
#include "textcuts.h"

using namespace cuts;

void extractMeipai(Slots &s, const ExtractorContext &ctx)
{
    const QString Q = QStringLiteral("\"");
    const QString &page = s[SlotPage];
    const QString &avatarPrefix = ctx.hosts.MeipaiAvatarPrefix;

    setSlot(s, 1, piece1(page, QStringLiteral("data-video=")));
    s[SlotVideoUrl] = removeAll(cutAt(s[1], QStringLiteral(">")), Q);
    setSlot(s, 3, piece1(page, "<img id=" + Q + "video_img" + Q + " src=" + Q));
    s[SlotCoverUrl] = cutAt(s[3], Q);
    setSlot(s, 5, piece1(page, avatarPrefix));
    s[SlotAvatarUrl] = avatarPrefix + cutAt(s[5], Q);
    setSlot(s, 7, piece1(page, "class=" + Q + "name" + Q + ">"));
    s[SlotAuthor] = cutAt(s[7], QStringLiteral("<"));
    setSlot(s, 9, piece1(page, "class=" + Q + "description br" + Q + ">"));
    s[SlotDescription] = cutAt(s[9], QStringLiteral("<"));
    setSlot(s, 11, piece1(page, "class=" + Q + "date" + Q + ">"));
    s[SlotDate] = cutAt(s[11], QStringLiteral("<"));
}
