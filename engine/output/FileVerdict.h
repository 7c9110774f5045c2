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
    // Damaged: what stopped the decoder and where ("JPEG data ends at 61 % of the picture").
    // NotChecked: why the check gave no verdict, when it began one and was cut short ("the check
    // ran past 12 s"); empty for a kind without a check.
    std::string fault;
};

} // namespace morrow
