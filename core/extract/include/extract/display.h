// What the display step shows after an extraction, decided from the rs and the site alone.
#pragma once

#include "record/hosts.h"
#include "sites/site_description.h"
#include "record/result.h"

#include <QString>

// The kinds of verified badge a service's page can earn; the window has a picture for each.
enum class Badge { None, Weishi, Miaopai };

struct DisplayPlan {
    int site = 0;
    QString authorCaption;       // the author as Label1 shows it, cut to fit
    QString descriptionCaption;  // the description as Label2 shows it, cut, or NoDescriptionText
    QString date;                // the date, uncut (the command line's "date")
    // The date caption as shown: a hostile page could make the date megabytes long, and laying
    // out such a caption freezes the window for seconds; no real date comes near the bound.
    QString shownDate;
    QString author;  // the author's and the description's full texts, uncut
    QString description;
    Badge badge = Badge::None;   // the badge shown right of the name, if any
    int badgeOffset = 0;         // gap between the name and the badge
    QString cover;               // address loaded into Image1
    QString avatar;              // address the avatar is loaded from
    bool avatarViaFile = false;  // Kuaishou: downloaded to the "face" file and shown from it
    // False when the address was built from an empty cut: the default picture stays.
    bool loadCover = true;
    bool loadAvatar = true;

    // The avatar's address given as the video's: none when built from an empty cut (the
    // avatar host alone).
    QString avatarUrl() const { return loadAvatar ? avatar : QString(); }
};

inline constexpr int MaxShownDateUnits = 256;
inline const QString NoDescriptionText = QStringLiteral("该视频暂无描述");

DisplayPlan planDisplay(int site, const Slots &rs, const Hosts &h, std::bitset<SlotCount> builtFromEmpty = {});
DisplayPlan planDisplay(
    const SiteDescription *d, int site, const Slots &rs, const Hosts &h, std::bitset<SlotCount> builtFromEmpty);

// The badge kind's name, as descriptions write it ("weishi", "miaopai", or "" for none).
QString badgeKindName(Badge badge);
