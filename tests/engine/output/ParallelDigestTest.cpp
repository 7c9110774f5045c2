#include "output/ParallelDigest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

using namespace morrow;

namespace {

// The published test vectors, fed in pieces and each after a finish, through whichever library
// this build hashes with (OpenSSL on Linux, CNG on Windows): a build whose digests differ from
// everyone else's would make every DFXML report it writes wrong.
TEST(DigestTest, KnownVectorsInPieces) {
    if (!Digest::available()) {
        GTEST_SKIP() << "this build has no digests";
    }
    struct Vector {
        std::string bytes;
        const char* md5;
        const char* sha256;
    };
    const Vector vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e",
         "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72",
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21",
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    Digest digest;
    for (const Vector& v : vectors) {
        for (std::size_t at = 0; at < v.bytes.size(); at += 4099) {
            digest.update(v.bytes.data() + at, std::min<std::size_t>(4099, v.bytes.size() - at));
        }
        const Digest::Values got = digest.finish();
        EXPECT_EQ(got.md5, v.md5) << v.bytes.size();
        EXPECT_EQ(got.sha256, v.sha256) << v.bytes.size();
    }
}

// Many blocks' worth in uneven pieces, twice over: the threads' digests equal the one-thread ones,
// whatever way round the ring of blocks the bytes went, and a finish starts the next stream afresh.
TEST(ParallelDigestTest, AgreesWithTheDigestOfTheSameBytes) {
    std::mt19937 rng(9);
    std::vector<unsigned char> bytes(11 * 1024 * 1024 + 333);
    for (auto& b : bytes) {
        b = static_cast<unsigned char>(rng());
    }
    ParallelDigest parallel;
    for (int round = 0; round < 2; ++round) {
        Digest plain;
        std::size_t at = 0;
        while (at < bytes.size()) {
            const std::size_t n = std::min<std::size_t>(bytes.size() - at, 1 + rng() % (3 << 20));
            parallel.update(bytes.data() + at, n);
            plain.update(bytes.data() + at, n);
            at += n;
        }
        const Digest::Values expected = plain.finish();
        const Digest::Values got = parallel.finish();
        EXPECT_EQ(got.md5, expected.md5) << round;
        EXPECT_EQ(got.sha256, expected.sha256) << round;
        bytes.resize(bytes.size() / 3);
    }
}

} // namespace
