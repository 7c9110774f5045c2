#include "output/Digest.h"

#include "output/DigestStream.h"

namespace morrow {

struct Digest::Contexts {
    DigestStream md5{DigestStream::Algorithm::Md5};
    DigestStream sha256{DigestStream::Algorithm::Sha256};
};

Digest::Digest() : contexts_(std::make_unique<Contexts>()) {}

Digest::~Digest() = default;

void Digest::update(const void* data, std::size_t length) {
    contexts_->md5.update(data, length);
    contexts_->sha256.update(data, length);
}

Digest::Values Digest::finish() {
    Values values;
    values.md5 = contexts_->md5.finish();
    values.sha256 = contexts_->sha256.finish();
    return values;
}

std::string Digest::libraryName() {
    return DigestStream::libraryName();
}

std::string Digest::libraryVersion() {
    return DigestStream::libraryVersion();
}

bool Digest::available() {
    return DigestStream::available();
}

} // namespace morrow
