#pragma once

#include <string>

namespace morrow {

// The optional parts this build was made with (DFXML with its hashing library, E01 with libewf),
// one line each, for both programs' --version.
std::string buildFeatures();

// Why this build cannot write DFXML reports (it has no digests), or null when it can: the one
// check both front ends make before a DFXML run.
const char* dfxmlUnavailable();
// Why --unallocated (the dialog's box) is refused in this build, or null when it is available.
const char* unallocatedUnavailable();

} // namespace morrow
