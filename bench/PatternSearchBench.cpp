// Footer search speed on 32 KiB blocks, the block size the carvers search in.
#include "CarveState.h"
#include "search/PatternSearch.h"

#include <benchmark/benchmark.h>
#include <random>

using namespace morrow;

namespace {

std::vector<unsigned char> randomBlock(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<unsigned char> block(n);
    for (auto& b : block) {
        b = static_cast<unsigned char>(rng());
    }
    return block;
}

void searchBlocks(benchmark::State& state, const std::string& pattern) {
    auto block = randomBlock(32768, 11);
    // No match in the block: the search runs to its end, the common case of a footer search.
    for (std::size_t i = 0; i + pattern.size() <= block.size(); ++i) {
        if (std::equal(pattern.begin(), pattern.end(), block.begin() + static_cast<std::ptrdiff_t>(i))) {
            block[i] ^= 0x55;
        }
    }
    CarveState st;
    PreparedPattern p(pattern);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            p.find(st, block.data(), 0, static_cast<std::uint32_t>(block.size()), SearchTarget::Footer));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(block.size()));
}

void BM_FindJpegFooter(benchmark::State& state) {
    searchBlocks(state, "\xFF\xD9");
}
void BM_FindPngFooter(benchmark::State& state) {
    searchBlocks(state, "IEND");
}
void BM_FindHtmlFooter(benchmark::State& state) {
    searchBlocks(state, "</html>");
}
void BM_FindLinearizedKeyword(benchmark::State& state) {
    searchBlocks(state, "Linearized");
}

} // namespace

BENCHMARK(BM_FindJpegFooter);
BENCHMARK(BM_FindPngFooter);
BENCHMARK(BM_FindHtmlFooter);
BENCHMARK(BM_FindLinearizedKeyword);
BENCHMARK_MAIN();
