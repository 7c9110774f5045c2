#pragma once

#include <string>

namespace morrow {

// The optional parts this build was made with (DFXML with its hashing library, E01 with libewf),
// one line each, for both programs' --version.
std::string buildFeatures();

} // namespace morrow
