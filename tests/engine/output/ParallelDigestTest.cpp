#include "output/ParallelDigest.h"

#include <gtest/gtest.h>

#include <random>

using namespace morrow;

namespace {

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
