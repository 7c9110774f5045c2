#include "carve/HeaderScan.h"

#include "base/Limits.h"
#include "carve/PassContext.h"
#include "evidence/EvidenceReader.h"
#include "output/ParallelDigest.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace morrow {

namespace {

// The evidence is read in blocks of this many sectors (plus a small tail so that the signature of
// the block's last sector can be compared), not one read per sector.
constexpr std::uint64_t blockSectors = 2048;
constexpr std::size_t sectorSize = limits::sectorSize;

// Per-sector progress: the bar moves about a hundred times per scan, one step behind the text.
struct Progress {
    PassDisplay& host;
    std::uint64_t step = 0;
    std::uint64_t threshold = 0;
    int k = 0;

    void at(std::uint64_t s) {
        if (s != threshold) {
            return;
        }
        host.setProgressPos(k);
        ++k;
        threshold += step;
        host.setPercentText(std::to_string(k) + "%");
    }
    // Sectors [from, to) passed over at once: every step among them, in order.
    void skip(std::uint64_t from, std::uint64_t to) {
        while (threshold >= from && threshold < to) {
            const std::uint64_t before = threshold;
            at(threshold);
            if (threshold == before) {
                break; // fewer than 100 sectors: one step only
            }
        }
    }
};

// The first sector at or after `s` whose bytes (with the tail a signature may need) are not all
// in a hole of sparse evidence: holes read as zeros, which start no header.
std::uint64_t firstSectorWithData(EvidenceReader& evidence, std::uint64_t s, std::uint64_t sectors,
                                  std::size_t tail) {
    const std::uint64_t data = evidence.nextData(s * sectorSize);
    if (data <= s * sectorSize + tail) {
        return s;
    }
    return std::min(sectors, (data - tail) / sectorSize);
}

} // namespace

HeaderScan::Result HeaderScan::run(PassContext& context, EvidenceReader& evidence,
                                   const std::string& evidencePath, const std::string& label,
                                   const HeaderKey& key) {
    PassDisplay& host = context.display();
    Result result;
    // The scan polls at every sector: its reads do not.
    struct FetchPolls {
        EvidenceReader& evidence;
        bool before = evidence.setFetchPolls(false);
        ~FetchPolls() { evidence.setFetchPolls(before); }
    } fetchPolls{evidence};

    host.setProgressPos(0);
    host.showProgress(true);
    host.setStatusText("");
    host.setStatusText(std::string("Searching ") + " " + label + " " + "headers" + " " + "and indexing, " +
                       "evidence: " + baseName(evidencePath));

    const std::uint64_t sectors = evidence.sectors();
    Progress progress{host};
    if (sectors > 100) {
        progress.step = sectors / 100;
        host.setProgressRange(100);
    } else {
        progress.step = 0;
        host.setProgressRange(static_cast<std::int64_t>(sectors));
    }
    progress.threshold = progress.step;
    host.startAnimation();

    HeaderIndex& cache = context.headerCache();
    bool& finished = result.finished;
    // Holes of sparse evidence are passed over a block at a time: their progress steps are
    // taken and one poll is made per block, but nothing is read or compared there.
    // A DFXML run hashes the evidence as its first scan reads it: every byte, in order, holes as
    // the zeros they read as.
    ParallelDigest* digest = nullptr;
    std::vector<unsigned char> zeros; // made only when a digest needs them
    // False when the user confirmed Stop or Quit meanwhile.
    auto passHoles = [&](std::uint64_t& s, std::size_t tail) {
        const std::uint64_t next = firstSectorWithData(evidence, s, sectors, tail);
        while (s < next) {
            const std::uint64_t to = std::min(next, s + blockSectors);
            if (digest != nullptr) {
                zeros.resize(blockSectors * sectorSize);
                digest->update(zeros.data(), static_cast<std::size_t>((to - s) * sectorSize));
            }
            progress.skip(s, to);
            context.scanProgress(to * sectorSize);
            if (!context.pollScan()) {
                return false;
            }
            s = to;
        }
        return true;
    };

    if (const OffsetList* known = cache.complete(evidencePath, key)) {
        // Matches already gathered by an earlier read: visit the sectors for the progress and the
        // polls, and take the matches as their sectors go by.
        std::size_t next = 0;
        // The next match's offset, read once per match rather than once per sector.
        std::int64_t nextOffset = known->size() > 0 ? (*known)[0] : -1;
        std::uint64_t holeCheck = 0;
        for (std::uint64_t s = 0; s < sectors; ++s) {
            if (s >= holeCheck) {
                if (!passHoles(s, 0)) {
                    finished = false;
                    break;
                }
                holeCheck = s + blockSectors;
                if (s >= sectors) {
                    break;
                }
            }
            progress.at(s);
            if (!context.pollScan()) {
                finished = false;
                break;
            }
            auto offset = static_cast<std::int64_t>(s * sectorSize);
            if (nextOffset == offset) {
                result.matches.push_back(offset);
                ++next;
                nextOffset = next < known->size() ? (*known)[next] : -1;
            }
        }
    } else {
        std::vector<HeaderKey> keys = cache.keysToGather(evidencePath, key);
        std::vector<OffsetList> matches(keys.size());
        // For each byte value, which signatures begin with it, at the sector start and 4 bytes in.
        std::array<std::uint64_t, 256> startsAt0{};
        std::array<std::uint64_t, 256> startsAt4{};
        std::size_t longest = 0;
        for (std::size_t i = 0; i < keys.size() && i < 64; ++i) {
            if (keys[i].signature.empty()) {
                continue;
            }
            auto first = static_cast<unsigned char>(keys[i].signature[0]);
            (keys[i].shifted ? startsAt4 : startsAt0)[first] |= std::uint64_t{1} << i;
            longest = std::max(longest, keys[i].signature.size() + (keys[i].shifted ? 4 : 0));
        }
        evidence.adviseSequential();
        digest = context.evidenceDigest();
        std::vector<unsigned char> block(blockSectors * sectorSize + longest + 1);
        std::uint64_t blockStart = 0;
        std::uint64_t blockEnd = 0;
        for (std::uint64_t s = 0; s < sectors; ++s) {
            if (s >= blockEnd && !passHoles(s, longest)) {
                finished = false;
                break;
            }
            if (s >= sectors) {
                break;
            }
            progress.at(s);
            if (!context.pollScan()) {
                finished = false;
                break;
            }
            if (s >= blockEnd) {
                blockStart = s;
                blockEnd = std::min(sectors, s + blockSectors);
                evidence.readAt(static_cast<std::int64_t>(s * sectorSize), block.data(),
                                static_cast<std::size_t>((blockEnd - s) * sectorSize) + longest);
                if (evidence.readFailed()) {
                    // Nothing past a read that cannot be read past is the evidence's: the scan
                    // ends here, with its message, and no pass carves what it found.
                    context.evidenceFailed(evidence);
                    result.matches.clear();
                    finished = false;
                    break;
                }
                if (digest != nullptr) {
                    digest->update(block.data(), static_cast<std::size_t>((blockEnd - s) * sectorSize));
                }
                context.scanProgress(blockEnd * sectorSize);
            }
            const unsigned char* at = block.data() + (s - blockStart) * sectorSize;
            std::uint64_t candidates = startsAt0[at[0]] | startsAt4[at[4]];
            while (candidates != 0) {
                const int i = std::countr_zero(candidates);
                candidates &= candidates - 1;
                const HeaderKey& k = keys[static_cast<std::size_t>(i)];
                const unsigned char* p = at + (k.shifted ? 4 : 0);
                if (std::memcmp(p, k.signature.data(), k.signature.size()) == 0 &&
                    (k.accepts == nullptr || k.accepts(at, HeaderKey::opening)) &&
                    context.indexes(static_cast<std::int64_t>(s * sectorSize))) {
                    const auto offset = static_cast<std::int64_t>(s * sectorSize);
                    matches[static_cast<std::size_t>(i)].push_back(offset);
                    if (i == 0) {
                        result.matches.push_back(offset);
                    }
                }
            }
        }
        cache.store(evidencePath, keys, std::move(matches), finished);
        if (finished) {
            context.scanProgress(evidence.size());
        }
        if (digest != nullptr && finished) {
            // The bytes after the last whole sector, which no scan visits.
            const std::uint64_t done = sectors * sectorSize;
            std::vector<unsigned char> rest(static_cast<std::size_t>(evidence.size() - done));
            evidence.readAt(static_cast<std::int64_t>(done), rest.data(), rest.size());
            digest->update(rest.data(), rest.size());
            context.evidenceDigestDone();
        }
    }

    if (!finished) {
        return result;
    }
    host.closeAnimation();
    host.showProgress(false);
    host.setPercentText("");
    return result;
}

} // namespace morrow
