#pragma once

#include <vector>

namespace morrow {

// Which control is enabled when: run mode turns off every control that could start a second run or
// change the settings while a run is on the stack, and turns Stop on.
enum class Enable { Off, On, Kept };

struct RunModeRow {
    int id;
    Enable inRun;    // on entering run mode
    Enable afterRun; // on leaving it; Kept: Add and Remove follow their own rules, Quit and Help
                     // are always on
};

const std::vector<RunModeRow>& runModeTable();

struct EnableChange {
    int id;
    bool enabled;
};

// What entering (`on`) or leaving run mode does, in order: entering turns the settings off before
// Stop on, leaving turns them on before Stop off, so that the focus, pushed off a control being
// turned off, lands on its neighbour in the tab order as it did before.
std::vector<EnableChange> runModeChanges(bool on);

} // namespace morrow
