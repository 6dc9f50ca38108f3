#pragma once

#include "hosts.h"

#include <QString>
#include <optional>

// The share-page prefix of a site.
QString pagePrefix(int site, const Hosts &h);

// The site whose share-page prefix the text starts with (exact and case-sensitive, as the
// address checks compare), or -1 when no prefix or more than one matches.
int siteForAddress(const QString &text, const Hosts &h);

// The text put into the address box by a paste or a drop: its first line, without the
// whitespace around it.
QString droppedAddress(const QString &text);

// The first share address of a known service in text (a pasted line, a chat message...):
// from a page prefix up to the next white space; empty when text holds none.
QString shareAddressIn(const QString &text, const Hosts &h);

// The four address checks of a site, in order. Returns the message of the first check that
// fires, or no value when the address passes.
std::optional<QString> checkAddress(int site, const QString &address, const Hosts &h);
