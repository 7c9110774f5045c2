#pragma once

namespace morrow {

struct CarveState;

// Start, Stop and Quit. A run executes inside the Start handler, and the window's events are
// handled at the engine's poll points, so these buttons can be pressed while a run is on the stack:
// then they only raise the requests the engine reads at its next poll.
class RunControl {
  public:
    explicit RunControl(CarveState& state) : state_(state) {}

    // Start pressed: true when the run is to go ahead (false for a click queued behind a run).
    bool start();
    // The run returned: true when the dialog is to end now (a confirmed Quit, or Quit pressed
    // while the summary was showing).
    bool finish();
    // Stop pressed: a request for the next poll point.
    void stop();

    enum class Quit {
        Request,  // a run is carving: a request for the next poll point, the window stays
        AfterRun, // a run is winding up (summary on screen): end as soon as it returns
        Now,      // no run: the dialog ends at once, without a question
    };
    // Quit pressed, Esc or the close box.
    Quit quit();
    // The engine's word that a confirmed Quit ends the application once the run returns.
    void endApplication() { endRequested_ = true; }

    bool running() const { return running_; }

  private:
    CarveState& state_;
    bool running_ = false;
    bool endRequested_ = false;
};

} // namespace morrow
