#include "RunControl.h"

#include "CarveState.h"

namespace morrow {

bool RunControl::start() {
    if (running_) {
        return false; // Start is off in run mode; this only guards against a queued click
    }
    running_ = true;
    endRequested_ = false;
    return true;
}

bool RunControl::finish() {
    running_ = false;
    const bool end = endRequested_;
    endRequested_ = false;
    return end;
}

void RunControl::stop() {
    state_.stopRequested = 1;
}

RunControl::Quit RunControl::quit() {
    if (state_.carvingInProgress == 1) {
        state_.quitRequested = 1;
        return Quit::Request;
    }
    if (running_) {
        endRequested_ = true;
        return Quit::AfterRun;
    }
    return Quit::Now;
}

} // namespace morrow
