#pragma once

#include <cstdint>
#include <string>

namespace morrow {

class PassContext;
class PassDisplay;

// What every carver's loop over its candidates shares: the progress bar over the candidates,
// the Stop and Quit poll at each one and the status text "Carving KIND: i Of n".
class CandidateLoop {
  public:
    CandidateLoop(PassContext& context, std::string kindTag, std::int64_t count);

    // The bar at 0 with the range count - 1 (-1 for no candidate), then shown.
    void setRange();
    void show();
    // At candidate i (from 0): the poll point, then the status text and the bar at `position`.
    // False when the user confirmed Stop or Quit: the pass must end with false.
    bool next(std::int64_t i, std::int64_t position);
    void hide();

  private:
    PassContext& context_;
    PassDisplay& host_;
    std::string kindTag_;
    std::int64_t count_;
    std::string countText_;
};

} // namespace morrow
