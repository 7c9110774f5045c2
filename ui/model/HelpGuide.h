#pragma once

#include <string>

namespace morrow {

// The file name of the user guide the Help button opens.
inline constexpr const char* helpGuideName = "Pellucid.hlp";

// The user guide for a program in `programDir` (UTF-8, '/' between names): beside the program, as
// in a build folder, else where an install puts it (share/morrow/ beside bin/). When neither place
// holds it, the installed one, which the error then names.
std::string findHelpGuide(const std::string& programDir);

// The message when the guide at `path` (as shown to the user) cannot be read for `reason`.
std::string helpGuideUnreadable(const std::string& path, const std::string& reason);

} // namespace morrow
