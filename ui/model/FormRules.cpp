#include "FormRules.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <string>

namespace morrow::form {

bool flagValue(std::string_view text) {
    if (text.empty() || text == "0") {
        return false;
    }
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower != "false";
}

} // namespace morrow::form
