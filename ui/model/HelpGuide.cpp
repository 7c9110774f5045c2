#include "HelpGuide.h"

#include <filesystem>
#include <system_error>

namespace morrow {

namespace {

std::filesystem::path pathOf(const std::string& utf8) {
    return std::u8string(utf8.begin(), utf8.end());
}

std::string utf8Of(const std::filesystem::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

} // namespace

std::string findHelpGuide(const std::string& programDir) {
    std::string beside = programDir;
    if (!beside.empty() && beside.back() != '/') {
        beside += '/';
    }
    beside += helpGuideName;
    std::error_code error;
    if (std::filesystem::is_regular_file(pathOf(beside), error)) {
        return beside;
    }
    // MORROW_GUIDE_FROM_PROGRAM is the install's data folder seen from its program folder
    // ("../share/morrow"), so an installed tree can be moved, or staged under DESTDIR, as a whole.
    const std::filesystem::path installed = pathOf(programDir) / MORROW_GUIDE_FROM_PROGRAM / helpGuideName;
    return utf8Of(installed.lexically_normal());
}

std::string helpGuideUnreadable(const std::string& path, const std::string& reason) {
    return "The help file could not be opened:\n" + path + "\n" + reason;
}

} // namespace morrow
