// EwfEvidence in a build without libewf (MORROW_WITH_EWF off): open() refuses every image, so
// none is ever made; the rest is here for the class to be whole (its vtable, dynamic_cast).
#include "evidence/EwfEvidence.h"

namespace morrow {

struct EwfEvidence::Library {};

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

EwfEvidence::EwfEvidence() = default;
EwfEvidence::~EwfEvidence() = default;

std::size_t EwfEvidence::read(std::uint64_t, void*, std::size_t) {
    return 0;
}
std::uint64_t EwfEvidence::damageEnd(std::uint64_t offset) {
    return offset;
}
std::string EwfEvidence::readFault() {
    return {};
}
void EwfEvidence::adviseSequential() {}
std::string EwfEvidence::changed() {
    return {};
}
std::vector<std::string> EwfEvidence::segments() const {
    return {};
}

} // namespace morrow
