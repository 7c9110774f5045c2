#pragma once

#include <string>

namespace morrow {

// Whether a carved file opens in a decoder made for its format: the check that tells an examiner
// which files are whole before opening hundreds of them one by one.
struct FileVerdict {
    enum class State {
        NotChecked, // no decoder for its kind, the check was not asked for, or it was refused
        Opens,      // decoded to its end without a fault
        Damaged,    // the decoder stopped: `fault` says at what and where
    };
    State state = State::NotChecked;
    // Damaged: the first fault and where it lies, "JPEG data ends at 61 % of the picture".
    // NotChecked: why the check gave no verdict: it refused the work ("TIFF images 2 to 999 not
    // decoded: ...") or was cut short ("the check ran past 12 s"); empty when there is no check
    // for it. Empty when the file Opens.
    std::string fault;
};

} // namespace morrow
