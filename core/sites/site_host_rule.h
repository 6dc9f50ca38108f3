// A service's hosts are its own: a description that replaces a built-in one (the user's file
// or a signed set's) reaches only the hosts its built-in namesake reaches.
#pragma once

#include "record/hosts.h"
#include "sites/site_description.h"

#include <optional>

// The refusal of own, with the line where it names a host it may not: a host variable that
// builtIn (its namesake; nullptr for a new service) does not use, or a fetch that begins with
// a host builtIn never fetches from or whose host in h is not a complete host name. No value
// when own keeps to its hosts. A new service may use its own page host alone.
std::optional<LoadError> foreignHost(const SiteDescription &own, const SiteDescription *builtIn, const Hosts &h);

// True for a host that is a whole name: a dot, a port or an IP literal, and no path.
bool completeHost(const QString &host);
