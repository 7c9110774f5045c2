// Header scan speed over a 1 GiB evidence file (MORROW_BENCH_IMAGE names another file). The
// first scan reads the file; the scans after it in the same run take their matches from what
// it gathered.
#include "CarveEngine.h"
#include "QuietHost.h"
#include "carve/HeaderScan.h"
#include "search/HexText.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <unistd.h>

using namespace morrow;

namespace {

std::string imagePath() {
    if (const char* p = std::getenv("MORROW_BENCH_IMAGE")) {
        return p;
    }
    std::string path = "/tmp/morrow-bench-1g.img";
    if (::access(path.c_str(), R_OK) == 0) {
        return path;
    }
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    std::mt19937_64 rng(1);
    std::vector<std::uint64_t> block(1 << 17); // 1 MiB
    for (int i = 0; i < 1024; ++i) {
        for (auto& w : block) {
            w = rng();
        }
        if (::write(fd, block.data(), block.size() * 8) < 0) {
            break;
        }
    }
    ::close(fd);
    return path;
}

void BM_HeaderScanFirstRead(benchmark::State& state) {
    std::string path = imagePath();
    QuietHost host;
    CarveEngine engine(host);
    std::uint64_t size = 0;
    for (auto _ : state) {
        EvidenceReader* evidence = engine.openEvidence(path);
        size = evidence->size();
        HeaderScan::run(engine, *evidence, path, "JPEGFile", HeaderKey{HexText::toBytes("FFD8FF")});
        engine.closeEvidence();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(size));
}

// All 18 header signatures of a run with every kind ticked, gathered by the first scan.
void BM_HeaderScanAllKindsOneRead(benchmark::State& state) {
    std::string path = imagePath();
    QuietHost host;
    CarveEngine engine(host);
    std::vector<std::pair<std::string, bool>> hexes;
    for (const KindInfo& kind : kindTable()) {
        for (int n = 1; !HexText::listField(kind.headerSignature, n, ',').empty(); ++n) {
            hexes.emplace_back(HexText::listField(kind.headerSignature, n, ','), kind.headerShifted);
        }
    }
    std::uint64_t size = 0;
    for (auto _ : state) {
        std::vector<HeaderKey> keys;
        for (auto& [hex, shifted] : hexes) {
            keys.push_back(HeaderKey{HexText::toBytes(hex), shifted});
        }
        engine.headerCache().prepare(path, keys);
        for (auto& [hex, shifted] : hexes) {
            EvidenceReader* evidence = engine.openEvidence(path);
            size = evidence->size();
            HeaderScan::run(engine, *evidence, path, "Bench", HeaderKey{HexText::toBytes(hex), shifted});
        }
        engine.closeEvidence();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(size));
    state.counters["scans"] = static_cast<double>(hexes.size());
}

} // namespace

BENCHMARK(BM_HeaderScanFirstRead)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_HeaderScanAllKindsOneRead)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_MAIN();
