// Weishi: the video id comes from the player element; the file link from the download
// interface, moved to the relay host; everything else from the share page.
#include "extractor.h"
#include "textcuts.h"

using namespace cuts;

void extractWeishi(Slots &s, const ExtractorContext &ctx)
{
    const QString Q = QStringLiteral("\"");
    const Hosts &h = ctx.hosts;

    setSlot(s, 20, piece1(s[SlotPage], "<div class=" + Q + "vBox js_player" + Q + " id=" + Q));
    s[21] = cutAt(s[20], Q);  // the video id
    setSlot(s, 22, ctx.GetBody(h.WeishiDownloadApiPrefix + s[21] + "&play=2&device=2"));
    setSlot(s, 23, piece1(s[22], "[" + Q));
    s[24] = cutAt(s[23], Q).replace(QStringLiteral("\\/"), QStringLiteral("/"));
    if (const auto path = piece1(s[24], h.WeishiVideoCdnHost))
        s[SlotVideoUrl] = h.WeishiVideoRelayPrefix + h.WeishiVideoCdnHost + *path;
    s[SlotCoverUrl] = h.WeishiCoverPrefix + s[21] + "_1/480";

    setSlot(s, 5, piece1(s[SlotPage], "errImgHeadLoad" + Q));
    QString avatar = upToPosition(s[5], QStringLiteral("e="));
    for (const QString &drop : {QStringLiteral("src="), Q, QStringLiteral("title"), QStringLiteral(" ")})
        avatar = removeAll(avatar, drop);
    s[SlotAvatarUrl] = avatar;

    setSlot(s, 7, piece1(s[SlotPage], QStringLiteral("<title>")));
    s[SlotAuthor] = removeAll(cutAt(s[7], QStringLiteral("<")), QStringLiteral("的微视"));

    setSlot(s, 9, piece1(s[SlotPage], "<div id=" + Q + "message" + Q + " class=" + Q + "msgCnt" + Q + ">"));
    QString description = trimmedSpaces(cutAt(s[9], QStringLiteral("<")));
    description = removeAll(description, QStringLiteral("\r\n"));
    s[SlotDescription] = removeAll(description, QStringLiteral(" "));

    setSlot(s, 11, piece1(s[SlotPage], "time c_tx3" + Q + ">"));
    s[SlotDate] = cutAt(s[11], QStringLiteral("<"));
}
