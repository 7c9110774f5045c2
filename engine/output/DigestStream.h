#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace morrow {

// One digest (MD5 or SHA-256) of a stream of bytes, from the system's own hashing library:
// OpenSSL's libcrypto on Linux, CNG (bcrypt) on Windows. Digest and ParallelDigest are built on
// it, so the rest of Morrow never sees which. A build without a library (MORROW_WITH_DFXML off)
// hashes nothing: available() is false and finish() gives an empty value.
class DigestStream {
  public:
    enum class Algorithm { Md5, Sha256 };

    explicit DigestStream(Algorithm algorithm);
    ~DigestStream();
    DigestStream(const DigestStream&) = delete;
    DigestStream& operator=(const DigestStream&) = delete;

    void update(const void* data, std::size_t length);
    // The digest (lower-case hex) of everything given since the start or the last finish, and a
    // fresh start.
    std::string finish();

    static bool available();
    // The hashing library's name and version, for the DFXML build environment.
    static std::string libraryName();
    static std::string libraryVersion();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace morrow
