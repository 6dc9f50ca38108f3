// What the options set up before the addresses run: the service descriptions, the network
// limits and the service asked for; and the questions about the descriptions.
#pragma once

#include "options.h"

#include <optional>

// Loads the descriptions (--sites-dir or the user's folder), applies the limits, resolves
// --site and takes each address out of the text around it. Returns an exit status when the
// run ends here: --list-sites and --show-site answered, or a usage error.
std::optional<int> prepareSession(CliOptions &o);
