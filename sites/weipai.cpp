// Weipai: the page gives cover, avatar, author and date; the video API, asked with the id
// from the address, gives the link (always ".flv") and the description.
#include "extractor.h"
#include "textcuts.h"

using namespace cuts;

void extractWeipai(Slots &s, const ExtractorContext &ctx)
{
    const QString Q = QStringLiteral("\"");
    const Hosts &h = ctx.hosts;
    const QString &page = s[SlotPage];

    // The address box is read again: it may have been edited during the page request.
    const QString videoId = removeAll(ctx.currentAddress(), h.WeipaiPagePrefix);
    const QString api = ctx.GetBody(h.WeipaiApiPrefix + videoId).value_or(QString());

    setSlot(s, 1, piece1(api, "url" + Q + ":" + Q));
    s[SlotVideoUrl] = cutAt(s[1], Q) + ".flv";
    setSlot(s, 3, piece1(page, "pic:" + Q));
    s[SlotCoverUrl] = cutAt(s[3], Q);
    setSlot(s, 5, piece1(page, h.WeipaiAvatarPrefix));
    s[SlotAvatarUrl] = h.WeipaiAvatarPrefix + cutAt(s[5], Q);
    setSlot(s, 7, piece1(page, "<h1 class=" + Q + "hide" + Q + ">"));
    s[SlotAuthor] = cutAt(s[7], QStringLiteral("的"));
    setSlot(s, 9, piece1(api, "desc" + Q + ":" + Q));
    s[SlotDescription] = cutAt(s[9], Q);
    setSlot(s, 11, piece1(page, "class=" + Q + "date" + Q + ">"));
    s[SlotDate] = cutAt(s[11], QStringLiteral("<"));
}
