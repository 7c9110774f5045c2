#include "evidence/CachedEvidence.h"
#include "evidence/MemoryEvidence.h"

#include <gtest/gtest.h>

#include <limits>

using namespace morrow;

namespace {

// A source that records where each read reaching it starts, and reads short at `failAt`.
class CountingEvidence : public MemoryEvidence {
  public:
    using MemoryEvidence::MemoryEvidence;
    std::size_t read(std::uint64_t offset, void* out, std::size_t length) override {
        reads.push_back(offset);
        return offset == failAt ? 0 : MemoryEvidence::read(offset, out, length);
    }
    std::vector<std::uint64_t> reads;
    std::uint64_t failAt = std::numeric_limits<std::uint64_t>::max();
};

// Blocks of 16 bytes, 3 kept, over 165 bytes (the last block 5 bytes long).
struct CachedFixture : ::testing::Test {
    std::string bytes = [] { // each byte its offset
        std::string b(165, '\0');
        for (std::size_t i = 0; i < b.size(); ++i) {
            b[i] = static_cast<char>(i);
        }
        return b;
    }();
    CountingEvidence* source = nullptr;
    std::unique_ptr<CachedEvidence> cached;
    void SetUp() override { make(3); }
    void make(std::size_t blocksKept) {
        auto counting = std::make_unique<CountingEvidence>("mem", bytes);
        source = counting.get();
        cached = std::make_unique<CachedEvidence>(std::move(counting), 16, blocksKept);
    }
    std::string read(std::uint64_t offset, std::size_t length) {
        std::string out(length, '\0');
        out.resize(cached->read(offset, out.data(), length));
        return out;
    }
};

TEST_F(CachedFixture, ReadsTheSourceBytesWhereverTheyFall) {
    const std::pair<std::uint64_t, std::size_t> reads[] = {
        {3, 4},    // within a block
        {14, 40},  // across three blocks
        {8, 90},   // longer than all the blocks kept
        {160, 5},  // the short last block
        {150, 64}, // past the end: what is there
        {165, 1},  // at the end: nothing
        {170, 1},  // past it
        {0, 165},  // all of it, again
    };
    for (const auto& [offset, length] : reads) {
        EXPECT_EQ(read(offset, length), bytes.substr(std::min<std::size_t>(offset, bytes.size()), length))
            << offset << "+" << length;
    }
}

TEST_F(CachedFixture, KeepsTheBlocksUsedLast) {
    make(2);
    read(0, 1);
    read(5, 3); // block 0 kept
    read(16, 1);
    read(0, 1);   // block 0 kept, now used after block 1
    read(32, 1);  // block 1 goes for block 2
    read(10, 10); // block 0 kept, block 1 read again: block 2 goes
    read(40, 1);  // block 2 read again
    EXPECT_EQ(source->reads, (std::vector<std::uint64_t>{0, 16, 32, 16, 32}));
}

// A block the source reads short is never kept with less than the source holds there: the read
// ends before it, and the next read asks the source again.
TEST_F(CachedFixture, ABlockReadShortIsNotKept) {
    source->failAt = 16;
    EXPECT_EQ(read(0, 40), bytes.substr(0, 16));
    EXPECT_EQ(read(20, 4), "");
    source->failAt = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(read(0, 40), bytes.substr(0, 40));
    EXPECT_EQ(source->reads, (std::vector<std::uint64_t>{0, 16, 16, 16, 32}));
}

} // namespace
