// Kuaishou: cut from the share block of the photo page, with a slot layout of its own:
// description in 4, date in 6, avatar in 8, cover in 10, author in 12.
#include "extractor.h"
#include "textcuts.h"

using namespace cuts;

void extractKuaishou(Slots &s, const ExtractorContext &)
{
    const QString Q = QStringLiteral("\"");
    const QString &page = s[SlotPage];

    setSlot(s, 1, piece1(page, "<div id=" + Q + "qqzone_web" + Q + ">"));
    QString author = removeAll(cutAt(s[1], QStringLiteral(":")), QStringLiteral("<span>"));
    s[12] = removeAll(author, QStringLiteral("\r\n"));
    setSlot(s, 3, restFrom(s[1], QStringLiteral(":")));
    QString description = removeAll(cutAt(s[3], QStringLiteral("</span>")), QStringLiteral("<"));
    s[4] = trimmedSpaces(removeAll(description, QStringLiteral(":")));

    setSlot(s, 5, piece1(page, "white-space:nowrap;" + Q + ">"));
    s[6] = trimmedSpaces(cutAt(s[5], QStringLiteral("<")));

    setSlot(s, 7, piece1(s[1], "<img src=" + Q));
    s[8] = removeAll(cutAt(s[7], QStringLiteral(">")), Q);

    setSlot(s, 9, piece1(page, "poster=" + Q));
    s[10] = cutAt(s[9], Q);
    setSlot(s, 11, piece1(s[9], "src=" + Q));
    s[SlotVideoUrl] = cutAt(s[11], Q);
}
