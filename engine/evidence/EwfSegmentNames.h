#pragma once

#include <string>

namespace morrow {

// The segment name after `path` in libewf's naming (`disk.E09` gives `disk.E10`, `disk.E99`
// gives `disk.EAA`, `disk.EZZ` gives `disk.FAA`); empty when `path` is not so named.
std::string nextEwfSegmentName(const std::string& path);

// How messages name a segment: the last part of its path.
std::string ewfSegmentFileName(const std::string& path);

} // namespace morrow
