// EwfEvidence in a build without libewf (MORROW_WITH_EWF off): the signatures are still told
// apart, so an E01 image is refused with a message rather than read as a raw image.
#include "evidence/EwfEvidence.h"

namespace morrow {

bool EwfEvidence::builtIn() {
    return false;
}

std::string EwfEvidence::libraryVersion() {
    return {};
}

std::unique_ptr<EvidenceSource> EwfEvidence::open(const std::string&, std::string& error, std::uint64_t) {
    error = "E01 images are not supported by this build";
    return nullptr;
}

} // namespace morrow
