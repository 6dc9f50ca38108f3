// The five supported services, keyed by the index of their selector button; what each one
// is and does is in its description (sites/*.toml).
#pragma once

#include <QString>

// The selector indexes of the built-in descriptions, for the simulator and the tests.
enum Site : int { Weishi = 0, Meipai = 1, Kuaishou = 2, Weipai = 3, Miaopai = 4 };
inline constexpr int SiteCount = 5;

// Caption of the selector button of a site ("微视", "美拍", ...).
QString siteCaption(int site);
// Status text shown when the site is chosen in the selector.
QString siteChosenText(int site);
// Site index for a command-line name ("weishi") or index ("0"); -1 when unknown.
int siteFromName(const QString &name);
// Command-line name of a site ("weishi"); empty when unknown.
QString siteName(int site);
