#pragma once

#include "base/Limits.h"
#include "base/Text.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace morrow::form {

// The maximum file size in KB: what the form starts with and what its arrows step within. The run
// itself refuses 0 and anything above the maximum: these are the engine's own limits.
inline constexpr std::int32_t defaultMaxFileSizeKB = limits::defaultMaxFileSizeKB;
inline constexpr std::int32_t minimumFileSizeKB = limits::minMaxFileSizeKB;
inline constexpr std::int32_t maximumFileSizeKB = limits::maxMaxFileSizeKB;

// A remembered flag as it was written ("true"/"false"); anything but empty, "0" or "false" is set.
bool flagValue(std::string_view text);

} // namespace morrow::form
