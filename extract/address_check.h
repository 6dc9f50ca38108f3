#pragma once

#include "hosts.h"

#include <QString>
#include <optional>

// The share-page prefix of a site.
QString pagePrefix(int site, const Hosts &h);

// The four address checks of a site, in order. Returns the message of the first check that
// fires, or no value when the address passes.
std::optional<QString> checkAddress(int site, const QString &address, const Hosts &h);
