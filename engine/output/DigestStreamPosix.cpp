#include "output/DigestStream.h"

#include "base/Text.h"

#include <openssl/evp.h>
#include <openssl/opensslv.h>

namespace morrow {

struct DigestStream::State {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    const EVP_MD* type;
    explicit State(Algorithm algorithm) : type(algorithm == Algorithm::Md5 ? EVP_md5() : EVP_sha256()) {
        EVP_DigestInit_ex(context, type, nullptr);
    }
    ~State() { EVP_MD_CTX_free(context); }
};

DigestStream::DigestStream(Algorithm algorithm) : state_(std::make_unique<State>(algorithm)) {}

DigestStream::~DigestStream() = default;

void DigestStream::update(const void* data, std::size_t length) {
    EVP_DigestUpdate(state_->context, data, length);
}

std::string DigestStream::finish() {
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    EVP_DigestFinal_ex(state_->context, value, &length);
    EVP_DigestInit_ex(state_->context, state_->type, nullptr);
    return toLowerHex(value, length);
}

bool DigestStream::available() {
    return true;
}

std::string DigestStream::libraryName() {
    return "OpenSSL";
}

std::string DigestStream::libraryVersion() {
    return OPENSSL_VERSION_TEXT;
}

} // namespace morrow
