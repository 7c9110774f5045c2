// The QuickTime family's proof of a join (ISO/IEC 14496-12, 8.7.3 to 8.7.5; ISO/IEC 14496-15,
// 5.3.3 and 8.3.3): the movie box holds every sample's offset from the file's first byte (chunk
// offsets, samples to chunk, sample sizes). A file written with its movie box after the media
// data breaks where the media data's box ends on no box; when the movie box is found a sector
// multiple further on, that is the gap, and every sample must then begin as its codec begins (a
// start code, or a chain of length-prefixed NAL units filling it exactly) in the piece that holds
// it, those before the split in the first and the rest in the next. The split lies between the
// last sample of the first piece and the first of the next: one sector start there proves it, and
// where there are more the NAL chains of the samples they run through choose, one passing alone.
#include "formats/FragmentJoin.h"

#include "base/Limits.h"
#include "evidence/EvidenceReader.h"
#include "formats/QuickTimeMovie.h"

#include <algorithm>
#include <cstring>

namespace morrow {

namespace {

constexpr std::uint64_t sector = limits::sectorSize;
constexpr std::uint64_t maxMovie = QuickTimeMovie::maxMovie;

bool isType(const unsigned char* type, const char* name) {
    return std::memcmp(type, name, 4) == 0;
}

bool topLevel(const unsigned char* type) {
    for (const char* t : {"ftyp", "mdat", "free", "skip", "wide", "uuid", "pdin", "pnot", "udta", "meta"}) {
        if (isType(type, t)) {
            return true;
        }
    }
    return false;
}

using Start = QuickTimeMovie::Start;
using Track = QuickTimeMovie::Track;
using Sample = QuickTimeMovie::Sample;

bool startHolds(const unsigned char* p, const Track& track, std::uint64_t size) {
    return QuickTimeMovie::startHolds(p, track, size);
}

std::optional<std::vector<Piece>> prove(EvidenceReader& evidence, std::uint64_t H, std::uint64_t broken,
                                        std::uint64_t gap, std::uint64_t movieSize, std::size_t movieHeader,
                                        const ClusterClaims& claims, JoinBudget& budget) {
    if (movieSize > maxMovie || !budget.spend(movieSize, 1)) {
        return std::nullopt;
    }
    std::vector<unsigned char> movie(static_cast<std::size_t>(movieSize - movieHeader));
    evidence.readAt(static_cast<std::int64_t>(H + broken + gap + movieHeader), movie.data(), movie.size());
    const auto read = QuickTimeMovie::read(movie);
    if (!read) {
        return std::nullopt;
    }
    const auto& tracks = read->tracks;
    const auto& samples = read->samples;
    std::uint64_t lastFirst = 0;
    std::uint64_t firstNext = broken; // the movie box stands in the next piece
    for (const Sample& sample : samples) {
        if (sample.offset + sample.size > broken || sample.offset < 8) {
            return std::nullopt; // not this file's media data
        }
        const Track& track = tracks[sample.track];
        if (track.start == Start::Unchecked || sample.size < 8) {
            continue;
        }
        unsigned char first[8] = {};
        unsigned char next[8] = {};
        evidence.readAt(static_cast<std::int64_t>(H + sample.offset), first, sizeof first);
        evidence.readAt(static_cast<std::int64_t>(H + sample.offset + gap), next, sizeof next);
        const bool one = startHolds(first, track, sample.size);
        const bool two = startHolds(next, track, sample.size);
        if (one && !two) {
            lastFirst = std::max(lastFirst, sample.offset + 8);
        } else if (two && !one) {
            firstNext = std::min(firstNext, sample.offset);
        } else if (!one) {
            return std::nullopt;
        }
    }
    if (!budget.spend(samples.size() * 16) || lastFirst == 0 || lastFirst > firstNext) {
        return std::nullopt;
    }
    const std::uint64_t lowest = (lastFirst + sector - 1) / sector * sector;
    const std::uint64_t highest = firstNext / sector * sector;
    if (lowest > highest) {
        return std::nullopt;
    }
    std::uint64_t split = lowest == highest ? lowest : 0;
    if (split == 0) {
        // The NAL chains of the samples the sector starts run through: one split alone may pass.
        std::vector<const Sample*> across;
        for (const Sample& sample : samples) {
            if (sample.offset < highest && sample.offset + sample.size > lowest) {
                if (tracks[sample.track].start != Start::Nal) {
                    return std::nullopt;
                }
                across.push_back(&sample);
            }
        }
        int passing = 0;
        for (std::uint64_t s = lowest; s <= highest && passing < 2; s += sector) {
            if (!budget.spend(0, 1)) {
                return std::nullopt;
            }
            const PieceLayout layout{H, s, gap};
            if (std::all_of(across.begin(), across.end(), [&, &trackList = tracks](const Sample* sample) {
                    return QuickTimeMovie::nalChainHolds(evidence, layout, *sample, trackList[sample->track]);
                })) {
                split = s;
                ++passing;
            }
        }
        if (passing != 1) {
            return std::nullopt;
        }
    }
    const std::uint64_t next = H + split + gap;
    const std::uint64_t end = H + broken + gap + movieSize;
    if (claims.taken(static_cast<std::int64_t>(next))) {
        return std::nullopt;
    }
    for (std::uint64_t s = next; s < end; s += sector) {
        if (claims.claimed(static_cast<std::int64_t>(s))) {
            return std::nullopt;
        }
    }
    return std::vector<Piece>{Piece{static_cast<std::int64_t>(H), split},
                              Piece{static_cast<std::int64_t>(next), end - next}};
}

bool container(const unsigned char* type) {
    for (const char* t : {"moov", "trak", "mdia", "minf", "stbl", "edts", "dinf", "mvex"}) {
        if (isType(type, t)) {
            return true;
        }
    }
    return false;
}

// The first box header at or after `split` in the movie box [from, to) as it lies before the
// split, and the end of the box that holds it; nothing when none is left before the movie's end.
std::optional<std::pair<std::uint64_t, std::uint64_t>> nextHeader(EvidenceReader& evidence, std::uint64_t H,
                                                                  std::uint64_t from, std::uint64_t to,
                                                                  std::uint64_t split, int depth = 0) {
    std::uint64_t at = from;
    while (at + 8 <= to && depth < 8) {
        if (at >= split) {
            return std::make_pair(at, to);
        }
        if (at + 8 > split) {
            return std::nullopt; // the header the split runs through: not followed
        }
        unsigned char head[8] = {};
        evidence.readAt(static_cast<std::int64_t>(H + at), head, sizeof head);
        const std::uint64_t size = be32(head);
        if (size < 8 || size > to - at) {
            return std::nullopt;
        }
        if (at + size > split) {
            if (container(head + 4)) {
                if (auto inner = nextHeader(evidence, H, at + 8, at + size, split, depth + 1)) {
                    return inner;
                }
            }
            at += size;
            return at + 8 <= to ? std::optional(std::make_pair(at, to)) : std::nullopt;
        }
        at += size;
    }
    return std::nullopt;
}

// Where the top-level boxes read through `layout` from `from` end: past the last that parses.
std::uint64_t chainEnd(EvidenceReader& evidence, const PieceLayout& layout, std::uint64_t from) {
    std::uint64_t at = from;
    for (int boxes = 0; boxes < 4096 && layout.at(at) + 8 <= evidence.size(); ++boxes) {
        unsigned char head[16] = {};
        layout.read(evidence, at, head, sizeof head);
        std::uint64_t length = be32(head);
        if (length == 1) {
            length = be64(head + 8);
        }
        if (!topLevel(head + 4) || length < 8 || length > evidence.size() - layout.at(at)) {
            break;
        }
        at += length;
    }
    return at;
}

bool piecesFree(const ClusterClaims& claims, std::uint64_t next, std::uint64_t end) {
    if (claims.taken(static_cast<std::int64_t>(next))) {
        return false;
    }
    for (std::uint64_t s = next; s < end; s += sector) {
        if (claims.claimed(static_cast<std::int64_t>(s))) {
            return false;
        }
    }
    return true;
}

// A movie whose box breaks inside: for each split in it, the next box header past the split is
// sought a sector multiple further on, and the whole movie box read across the join must parse,
// its samples beginning as their codecs do in the media data. The media data stands before the
// movie box, or (a file written for streaming) after it, read across the join too, the file
// ending where its top-level boxes do.
std::optional<std::vector<Piece>> insideMovie(EvidenceReader& evidence, std::uint64_t H,
                                              std::uint64_t movieAt, std::uint64_t movieSize,
                                              std::size_t movieHeader, bool mediaAfter,
                                              const ClusterClaims& claims, JoinBudget& budget) {
    if (movieSize > maxMovie || !budget.spend(movieSize, 1)) {
        return std::nullopt;
    }
    const std::uint64_t movieEnd = movieAt + movieSize;
    std::uint64_t fileEnd = movieEnd;
    auto holds = [&](const PieceLayout& layout) {
        std::vector<unsigned char> movie(static_cast<std::size_t>(movieSize - movieHeader));
        layout.read(evidence, movieAt + movieHeader, movie.data(), movie.size());
        const auto read = QuickTimeMovie::read(movie);
        if (!read) {
            return false;
        }
        fileEnd = mediaAfter ? chainEnd(evidence, layout, movieEnd) : movieEnd;
        const std::uint64_t from = mediaAfter ? movieEnd : 8;
        const std::uint64_t to = mediaAfter ? fileEnd : movieAt;
        bool checked = false;
        for (const Sample& sample : read->samples) {
            const Track& track = read->tracks[sample.track];
            if (sample.offset < from || sample.offset + sample.size > to) {
                return false;
            }
            if (track.start == Start::Unchecked || sample.size < 8) {
                continue;
            }
            unsigned char first[8] = {};
            layout.read(evidence, sample.offset, first, sizeof first);
            if (!startHolds(first, track, sample.size)) {
                return false;
            }
            checked = true;
        }
        return checked;
    };
    if (holds(PieceLayout{H, ~std::uint64_t{0}, 0})) {
        return std::nullopt; // whole as it lies
    }
    {
        // A movie box whose tables parse as it lies breaks in its media data, if anywhere: a
        // split in it would only find a copy's bytes.
        std::vector<unsigned char> movie(static_cast<std::size_t>(movieSize - movieHeader));
        evidence.readAt(static_cast<std::int64_t>(H + movieAt + movieHeader), movie.data(), movie.size());
        if (QuickTimeMovie::read(movie)) {
            return std::nullopt;
        }
    }
    const std::uint64_t highest = (movieEnd - 1) / sector * sector;
    int tried = 0;
    for (std::uint64_t split = highest; split > movieAt + movieHeader && tried < 64;
         split -= sector, ++tried) {
        const auto next = nextHeader(evidence, H, movieAt + movieHeader, movieEnd, split);
        if (!next) {
            continue;
        }
        const auto [x, parentEnd] = *next;
        for (std::uint64_t gap = sector; gap <= FragmentJoin::maxGap && H + movieEnd + gap <= evidence.size();
             gap += sector) {
            if (!budget.spend(sector)) {
                return std::nullopt;
            }
            unsigned char head[8] = {};
            evidence.readAt(static_cast<std::int64_t>(H + x + gap), head, sizeof head);
            const std::uint64_t size = be32(head);
            if (size < 8 || size > parentEnd - x || !std::all_of(head + 4, head + 8, [](unsigned char c) {
                    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' ||
                           (c >= 'A' && c <= 'Z');
                })) {
                continue;
            }
            if (!budget.spend(movieSize, 1) || !holds(PieceLayout{H, split, gap})) {
                continue;
            }
            const std::uint64_t piece = H + split + gap;
            if (!piecesFree(claims, piece, H + fileEnd + gap)) {
                return std::nullopt;
            }
            return std::vector<Piece>{Piece{static_cast<std::int64_t>(H), split},
                                      Piece{static_cast<std::int64_t>(piece), fileEnd - split}};
        }
    }
    return std::nullopt;
}

// A movie written for streaming, its box whole before the media data, whose media data breaks:
// the samples past the split begin as their codecs do a sector multiple further on, those before
// it in place, and one sector start between the last of the first piece and the first of the next.
std::optional<std::vector<Piece>> insideMedia(EvidenceReader& evidence, std::uint64_t H,
                                              std::uint64_t movieAt, std::uint64_t movieSize,
                                              std::size_t movieHeader, const ClusterClaims& claims,
                                              JoinBudget& budget) {
    if (movieSize > maxMovie || !budget.spend(movieSize, 1)) {
        return std::nullopt;
    }
    const std::uint64_t movieEnd = movieAt + movieSize;
    std::vector<unsigned char> movie(static_cast<std::size_t>(movieSize - movieHeader));
    evidence.readAt(static_cast<std::int64_t>(H + movieAt + movieHeader), movie.data(), movie.size());
    const auto read = QuickTimeMovie::read(movie);
    if (!read) {
        return std::nullopt;
    }
    const auto& tracks = read->tracks;
    const auto& samples = read->samples;
    // Each checked sample's start as it lies; the first that fails is past the split.
    std::vector<bool> inPlace(samples.size());
    const Sample* broken = nullptr;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const Sample& sample = samples[i];
        if (sample.offset < movieEnd) {
            return std::nullopt;
        }
        if (tracks[sample.track].start == Start::Unchecked || sample.size < 8) {
            continue;
        }
        unsigned char first[8] = {};
        evidence.readAt(static_cast<std::int64_t>(H + sample.offset), first, sizeof first);
        inPlace[i] = startHolds(first, tracks[sample.track], sample.size);
        if (!inPlace[i] && (broken == nullptr || sample.offset < broken->offset)) {
            broken = &sample;
        }
    }
    if (broken == nullptr || !budget.spend(samples.size() * 16)) {
        return std::nullopt; // whole as it lies, or nothing to tell where it goes on
    }
    for (std::uint64_t gap = sector;
         gap <= FragmentJoin::maxGap && H + broken->offset + gap + 8 <= evidence.size(); gap += sector) {
        if (!budget.spend(sector)) {
            return std::nullopt;
        }
        unsigned char first[8] = {};
        evidence.readAt(static_cast<std::int64_t>(H + broken->offset + gap), first, sizeof first);
        if (!startHolds(first, tracks[broken->track], broken->size) || !budget.spend(samples.size() * 8, 1)) {
            continue;
        }
        std::uint64_t lastFirst = movieEnd;
        std::uint64_t firstNext = ~std::uint64_t{0};
        bool all = true;
        for (std::size_t i = 0; i < samples.size() && all; ++i) {
            const Sample& sample = samples[i];
            if (tracks[sample.track].start == Start::Unchecked || sample.size < 8) {
                continue;
            }
            unsigned char next[8] = {};
            evidence.readAt(static_cast<std::int64_t>(H + sample.offset + gap), next, sizeof next);
            const bool two = startHolds(next, tracks[sample.track], sample.size);
            if (inPlace[i] && !two) {
                lastFirst = std::max(lastFirst, sample.offset + 8);
            } else if (two && !inPlace[i]) {
                firstNext = std::min(firstNext, sample.offset);
            } else if (!two) {
                all = false;
            }
        }
        const std::uint64_t split = (lastFirst + sector - 1) / sector * sector;
        if (!all || firstNext == ~std::uint64_t{0} || split > firstNext || split + sector <= firstNext) {
            continue; // no sector start, or more than one, between the pieces
        }
        const PieceLayout layout{H, split, gap};
        const std::uint64_t end = chainEnd(evidence, layout, movieEnd);
        if (end <= split || std::any_of(samples.begin(), samples.end(), [&](const Sample& sample) {
                return sample.offset + sample.size > end;
            })) {
            continue;
        }
        const std::uint64_t piece = H + split + gap;
        if (!piecesFree(claims, piece, H + end + gap)) {
            return std::nullopt;
        }
        return std::vector<Piece>{Piece{static_cast<std::int64_t>(H), split},
                                  Piece{static_cast<std::int64_t>(piece), end - split}};
    }
    return std::nullopt;
}

} // namespace

std::optional<std::vector<Piece>> FragmentJoin::quickTime(EvidenceReader& evidence, std::int64_t H,
                                                          const ClusterClaims& claims, JoinBudget& budget) {
    const std::uint64_t size = evidence.size();
    const auto start = static_cast<std::uint64_t>(H);
    if (H < 0 || start >= size) {
        return std::nullopt;
    }
    // The top-level boxes as they lie, to the first that is none: the media data's box ran
    // through the split to there. A movie box before that is a file this join does not follow.
    std::uint64_t at = 0;
    bool media = false;
    for (int boxes = 0;; ++boxes) {
        unsigned char head[16] = {};
        if (evidence.readAt(static_cast<std::int64_t>(start + at), head, sizeof head) < 8 || boxes > 4096) {
            return std::nullopt;
        }
        std::uint64_t length = be32(head);
        if (length == 1) {
            length = be64(head + 8);
        }
        if (boxes == 0 && !isType(head + 4, "ftyp")) {
            return std::nullopt;
        }
        if (isType(head + 4, "moov")) {
            // After the media data it may break inside; before it (a file written for
            // streaming, only its type box before it), it may break inside, or the media data after it.
            if ((!media && at >= 64) || length < 16 || length > size - start - at) {
                return std::nullopt;
            }
            const std::size_t header = be32(head) == 1 ? 16 : 8;
            auto pieces = insideMovie(evidence, start, at, length, header, !media, claims, budget);
            if (!pieces && !media) {
                pieces = insideMedia(evidence, start, at, length, header, claims, budget);
            }
            return pieces;
        }
        if (!topLevel(head + 4) || length < 8 || length > size - start - at) {
            break;
        }
        media = media || isType(head + 4, "mdat");
        at += length;
    }
    if (!media) {
        return std::nullopt;
    }
    const std::uint64_t broken = at;
    // The movie box a sector multiple further on.
    for (std::uint64_t gap = sector; gap <= maxGap && start + broken + gap + 8 <= size; gap += sector) {
        // The scan passes over the gap a sector at a time.
        if (!budget.spend(sector)) {
            return std::nullopt;
        }
        unsigned char head[16] = {};
        evidence.readAt(static_cast<std::int64_t>(start + broken + gap), head, sizeof head);
        if (!isType(head + 4, "moov")) {
            continue;
        }
        std::uint64_t length = be32(head);
        std::size_t header = 8;
        if (length == 1) {
            length = be64(head + 8);
            header = 16;
        }
        if (length < header + 8 || length > size - (start + broken + gap)) {
            continue;
        }
        if (auto pieces = prove(evidence, start, broken, gap, length, header, claims, budget)) {
            return pieces;
        }
    }
    return std::nullopt;
}

} // namespace morrow
