// What the classification and the selections share about the promotion policies.
#pragma once

#include <libwinclass/writers/promote.h>

#include <list>

namespace winclass {

// The first policy for the writer ID, or NULL.
CPromoteUserDataWriter *PolicyFor(const std::list<CPromoteUserDataWriter *> &policies, const GUID &writerId);

// "the default promotion policy", "the virtualization host policy", "the database policy";
// "no promotion policy" for NULL.
const char *PolicyName(const CPromoteUserDataWriter *policy);

} // namespace winclass
