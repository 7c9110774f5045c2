#include "output/Digest.h"

#include "base/Text.h"
#if MORROW_WITH_DFXML

#include <openssl/evp.h>
#include <openssl/opensslv.h>

namespace morrow {

namespace {

std::string hex(const unsigned char* bytes, unsigned length) {
    return toLowerHex(bytes, length);
}

} // namespace

struct Digest::Contexts {
    EVP_MD_CTX* md5 = EVP_MD_CTX_new();
    EVP_MD_CTX* sha256 = EVP_MD_CTX_new();
    Contexts() { start(); }
    ~Contexts() {
        EVP_MD_CTX_free(md5);
        EVP_MD_CTX_free(sha256);
    }
    void start() {
        EVP_DigestInit_ex(md5, EVP_md5(), nullptr);
        EVP_DigestInit_ex(sha256, EVP_sha256(), nullptr);
    }
};

Digest::Digest() : contexts_(std::make_unique<Contexts>()) {}

Digest::~Digest() = default;

void Digest::update(const void* data, std::size_t length) {
    EVP_DigestUpdate(contexts_->md5, data, length);
    EVP_DigestUpdate(contexts_->sha256, data, length);
}

Digest::Values Digest::finish() {
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    Values values;
    EVP_DigestFinal_ex(contexts_->md5, value, &length);
    values.md5 = hex(value, length);
    EVP_DigestFinal_ex(contexts_->sha256, value, &length);
    values.sha256 = hex(value, length);
    contexts_->start();
    return values;
}

std::string Digest::libraryVersion() {
    return OPENSSL_VERSION_TEXT;
}

bool Digest::available() {
    return true;
}

} // namespace morrow

#else

namespace morrow {

struct Digest::Contexts {};

Digest::Digest() = default;

Digest::~Digest() = default;

void Digest::update(const void*, std::size_t) {}

Digest::Values Digest::finish() {
    return {};
}

std::string Digest::libraryVersion() {
    return {};
}

bool Digest::available() {
    return false;
}

} // namespace morrow

#endif
