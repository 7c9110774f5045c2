#include "output/DigestStream.h"

#include "base/Text.h"

#include <windows.h>

#include <bcrypt.h>

#include <limits>
#include <vector>

namespace morrow {

namespace {

// The providers are opened once for the run and shared: CNG's algorithm handles are safe to use
// from several threads, and opening one costs more than hashing a small file.
BCRYPT_ALG_HANDLE provider(DigestStream::Algorithm algorithm) {
    static const BCRYPT_ALG_HANDLE md5 = [] {
        BCRYPT_ALG_HANDLE h = nullptr;
        return BCryptOpenAlgorithmProvider(&h, BCRYPT_MD5_ALGORITHM, nullptr, 0) >= 0 ? h : nullptr;
    }();
    static const BCRYPT_ALG_HANDLE sha256 = [] {
        BCRYPT_ALG_HANDLE h = nullptr;
        return BCryptOpenAlgorithmProvider(&h, BCRYPT_SHA256_ALGORITHM, nullptr, 0) >= 0 ? h : nullptr;
    }();
    return algorithm == DigestStream::Algorithm::Md5 ? md5 : sha256;
}

} // namespace

struct DigestStream::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ULONG length = 0;
    explicit State(Algorithm which) : algorithm(provider(which)) {
        DWORD got = 0;
        if (algorithm != nullptr) {
            BCryptGetProperty(algorithm, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&length), sizeof length,
                              &got, 0);
        }
        start();
    }
    ~State() {
        if (hash != nullptr) {
            BCryptDestroyHash(hash);
        }
    }
    void start() {
        hash = nullptr;
        if (algorithm != nullptr && BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) < 0) {
            hash = nullptr;
        }
    }
};

DigestStream::DigestStream(Algorithm algorithm) : state_(std::make_unique<State>(algorithm)) {}

DigestStream::~DigestStream() = default;

void DigestStream::update(const void* data, std::size_t length) {
    auto* p = static_cast<PUCHAR>(const_cast<void*>(data));
    while (length > 0 && state_->hash != nullptr) {
        const auto n = static_cast<ULONG>(std::min<std::size_t>(length, std::numeric_limits<ULONG>::max()));
        BCryptHashData(state_->hash, p, n, 0);
        p += n;
        length -= n;
    }
}

std::string DigestStream::finish() {
    if (state_->hash == nullptr) {
        return {};
    }
    std::vector<unsigned char> value(state_->length);
    const bool done = BCryptFinishHash(state_->hash, value.data(), state_->length, 0) >= 0;
    BCryptDestroyHash(state_->hash);
    state_->start();
    return done ? toLowerHex(value.data(), value.size()) : std::string();
}

bool DigestStream::available() {
    return provider(Algorithm::Md5) != nullptr && provider(Algorithm::Sha256) != nullptr;
}

std::string DigestStream::libraryName() {
    return "Windows CNG";
}

std::string DigestStream::libraryVersion() {
    return "Windows CNG, bcrypt.dll";
}

} // namespace morrow
