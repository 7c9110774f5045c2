#include "carve/CandidateLoop.h"

#include "carve/PassContext.h"

namespace morrow {

CandidateLoop::CandidateLoop(PassContext& context, std::string kindTag, std::int64_t count)
    : context_(context), host_(context.display()), kindTag_(std::move(kindTag)), count_(count),
      countText_(std::to_string(count)) {}

void CandidateLoop::setRange() {
    host_.setProgressPos(0);
    host_.setProgressRange(count_ - 1);
}

void CandidateLoop::show() {
    host_.showProgress(true);
}

bool CandidateLoop::next(std::int64_t i, std::int64_t position) {
    if (!context_.pollCandidate()) {
        return false;
    }
    context_.candidateProgress();
    host_.setStatusText("");
    host_.setStatusText((context_.measuringOnly() ? "Measuring " : "Carving ") + kindTag_ + ": " +
                        std::to_string(i + 1) + " Of " + countText_);
    host_.setProgressPos(position);
    return true;
}

void CandidateLoop::hide() {
    host_.showProgress(false);
}

} // namespace morrow
