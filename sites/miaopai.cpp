// Miaopai: video and cover links are built from the id in the address on the stream host;
// avatar, author, description (link tags stripped) and date come from the page.
#include "extractor.h"
#include "preg.h"
#include "textcuts.h"

using namespace cuts;

void extractMiaopai(Slots &s, const ExtractorContext &ctx)
{
    const QString Q = QStringLiteral("\"");
    const Hosts &h = ctx.hosts;
    const QString &page = s[SlotPage];

    // The address box is read again: it may have been edited during the page request.
    s[20] = removeAll(removeAll(ctx.currentAddress(), h.MiaopaiPagePrefix), QStringLiteral(".htm"));
    s[SlotVideoUrl] = h.MiaopaiStreamPrefix + s[20] + ".mp4";
    s[SlotCoverUrl] = h.MiaopaiStreamPrefix + s[20] + "_m.jpg";

    setSlot(s, 5, piece1(page, h.MiaopaiAvatarPrefix));
    s[SlotAvatarUrl] = h.MiaopaiAvatarPrefix + cutAt(s[5], Q);
    setSlot(s, 7, piece1(page, QStringLiteral("<title>")));
    s[SlotAuthor] = cutAt(s[7], QStringLiteral("的"));

    setSlot(s, 9, piece1(page, QStringLiteral("<p>")));
    // The paragraph text keeps the "<" of its closing tag until the clean-up below.
    s[12] = trimmedSpaces(upToPosition(s[9], QStringLiteral("</p>")));
    if (const auto stripped = preg(s[12], QStringLiteral("</?a[^<>]*>"), QString()))
        s[SlotDescription] = removeAll(*stripped, QStringLiteral("<"));

    setSlot(s, 11, piece1(page, QStringLiteral("<h2><b>")));
    s[SlotDate] = cutAt(s[11], QStringLiteral("&"));
}
