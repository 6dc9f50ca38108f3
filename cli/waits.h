// The command line's waits inside one address's save (its cover, its conversion): the save
// of an address is one step of the run, so these wait for their answer before it goes on.
#pragma once

#include "convert/conversion.h"
#include "net/fetch.h"

// The answer of one fetch under the fetch rule.
fetch::Result fetchNow(const QString &url, qint64 maxBytes);

// One conversion, start to end.
convert::Result convertNow(const convert::Request &request);
