#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace morrow {

// The MD5 and SHA-256 of a stream of bytes, computed as the bytes go by (DigestStream: OpenSSL on
// Linux, CNG on Windows), so that nothing has to be read a second time to be hashed. A build
// without a hashing library (MORROW_WITH_DFXML off) has no digests: available() is false, and
// finish() gives empty values.
class Digest {
  public:
    struct Values {
        std::string md5;    // lower-case hex
        std::string sha256; // lower-case hex
    };

    Digest();
    ~Digest();
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;

    void update(const void* data, std::size_t length);
    // The digests of everything given since the start (or the last finish), and a fresh start.
    Values finish();
    // The name and version of the library that hashes, for the DFXML build environment.
    static std::string libraryName();
    static std::string libraryVersion();
    // False in a build without a hashing library, where DFXML reports are refused.
    static bool available();

  private:
    struct Contexts;
    std::unique_ptr<Contexts> contexts_;
};

} // namespace morrow
