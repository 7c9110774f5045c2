#include "output/DigestStream.h"

// A build without a hashing library (MORROW_WITH_DFXML off): no digests, and DFXML runs are
// refused before they start.
namespace morrow {

struct DigestStream::State {};

DigestStream::DigestStream(Algorithm) {}

DigestStream::~DigestStream() = default;

void DigestStream::update(const void*, std::size_t) {}

std::string DigestStream::finish() {
    return {};
}

bool DigestStream::available() {
    return false;
}

std::string DigestStream::libraryName() {
    return {};
}

std::string DigestStream::libraryVersion() {
    return {};
}

} // namespace morrow
