// A description's examples, run: each saved page (and the interface answers it declares)
// goes through the real driver under the examples' own host table, and what comes out is
// compared, field by field, with what the example expects.
#pragma once

#include "record/hosts.h"
#include "sites/site_description.h"

#include <QList>
#include <QString>

struct ExampleOutcome {
    QString page;              // its page file and answer files ("examples/plain.html (api: examples/plain.json)")
    int line = 0;              // of its [[example]]
    QString field, want, got;  // the first field that differs
    QString error;             // a file of the example that cannot be read
    bool passed() const { return field.isEmpty() && error.isEmpty(); }
};

// The hosts every example runs under, whatever the build's: the real services' hosts. A page or
// answer writes them as {{VARIABLE}} ("{{MEIPAI_AVATAR_HOST}}"); no author is always verified.
const Hosts &exampleHosts();

// The text with each {{VARIABLE}} replaced by its host of the examples' table.
QString withExampleHosts(QString text);

// Runs every example of a description; a description without examples gives one failed outcome.
QList<ExampleOutcome> runExamples(const SiteDescription &site);

// "examples/plain.html: pass", or the first field that differs with want and got.
QString describeOutcome(const ExampleOutcome &outcome);
