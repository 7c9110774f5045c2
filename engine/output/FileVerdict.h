#pragma once

#include <string>

namespace morrow {

// Whether a carved file opens in a decoder made for its format: the check that tells an examiner
// which files are whole before opening hundreds of them one by one.
struct FileVerdict {
    enum class State {
        NotChecked, // no decoder for its kind, or the check was not asked for
        Opens,      // decoded to its end without a fault
        Damaged,    // the decoder stopped: `fault` says at what and where
    };
    State state = State::NotChecked;
    std::string fault; // "JPEG data ends at 61 % of the picture"; empty unless Damaged
};

} // namespace morrow
