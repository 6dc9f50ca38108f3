#pragma once

#include "sites/site_description.h"

#include "record/hosts.h"

#include <QString>
#include <QStringList>
#include <optional>

// The share-page prefix of a site.
QString pagePrefix(int site, const Hosts &h);

// The site whose share-page prefix the text starts with (exact and case-sensitive, as the
// address checks compare), or -1 when no prefix or more than one matches.
int siteForAddress(const QString &text, const Hosts &h);

// The text put into the address box by a paste or a drop: its first line, without the
// whitespace around it.
QString droppedAddress(const QString &text);

// The web addresses in text as people paste it (a share message of a service's app, a chat
// line...), in order. An address starts at "http://" or "https://" and ends at the first
// character that cannot be part of one: white space of any kind, anything outside printable
// ASCII (Chinese text, full-width punctuation, emoji), or the start of a second address
// (one that follows "=" belongs to a query and does not end the first). Sentence and closing
// punctuation (. , ; : ! ? ) ] } > ' ") at its end is dropped. The scheme is found in any case;
// scheme and host are given in lower case.
QStringList addressesIn(const QString &text);

// The address text holds: the first one that belongs to a known service, else the first
// one; empty when text holds none.
QString shareAddressIn(const QString &text, const Hosts &h);

// Every share address of a known service in text (a chat pasted whole, a list of links), in
// order, each once.
QStringList shareAddressesIn(const QString &text, const Hosts &h);

// The address without its query and fragment: what links built from it start with.
QString withoutQuery(const QString &address);

// The video's id in a share address: what follows the service's page prefix, without a
// leading "/", the query, the fragment or a ".htm" ending ("10004", "mp3001").
QString videoIdOf(const QString &address, int site, const Hosts &h);

// The four address checks of a site, in order. Returns the message of the first check that
// fires, or no value when the address passes.
std::optional<QString> checkAddress(int site, const QString &address, const Hosts &h);
std::optional<QString> checkAddress(const SiteDescription *d, const QString &address, const Hosts &h);
