// ISO/IEC 14496-12 (ISO base media file format), 4.2 "Object Structure" and 4.3 "File Type Box";
// Apple's QuickTime File Format, "Atoms" and "File Type Compatibility Atom". Every field is
// big-endian. A box:
//   offset 0  size        4 bytes: the whole box, header included; 1 = a 64-bit size follows the
//                         type; 0 = the box runs to the end of the file
//   offset 4  type        4 bytes, four printable characters
//   offset 8  largesize   8 bytes, only when size is 1
// The file type box comes first:
//   offset 8  major brand    4 bytes, printable, e.g. "isom", "mp42", "qt  ", "3gp4"
//   offset 12 minor version  4 bytes
//   offset 16 compatible brands, 4 bytes each, to the end of the box
#include "formats/QuickTimeExtent.h"

#include "base/Limits.h"
#include "evidence/EvidenceReader.h"
#include "formats/ExactEnds.h"
#include "formats/FragmentJoin.h"
#include "formats/QuickTimeMovie.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace morrow {

namespace {

// The samples in file order. They come track by track, each track's usually in order already:
// the tracks' runs are merged, and only a track out of order is sorted, so a movie of many
// thousand samples costs little more than one pass over them.
void sortByOffset(std::vector<QuickTimeMovie::Sample>& samples) {
    const auto before = [](const QuickTimeMovie::Sample& a, const QuickTimeMovie::Sample& b) {
        return a.offset < b.offset;
    };
    std::vector<std::size_t> runs{0};
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if (samples[i].track != samples[i - 1].track) {
            runs.push_back(i);
        }
    }
    runs.push_back(samples.size());
    for (std::size_t r = 0; r + 1 < runs.size(); ++r) {
        const auto first = samples.begin() + static_cast<std::ptrdiff_t>(runs[r]);
        const auto last = samples.begin() + static_cast<std::ptrdiff_t>(runs[r + 1]);
        if (!std::is_sorted(first, last, before)) {
            std::sort(first, last, before);
        }
    }
    // Neighbouring runs merged pairwise, rounds halving their number.
    while (runs.size() > 2) {
        std::vector<std::size_t> merged{0};
        for (std::size_t r = 0; r + 2 < runs.size(); r += 2) {
            const auto at = [&](std::size_t k) {
                return samples.begin() + static_cast<std::ptrdiff_t>(runs[k]);
            };
            std::inplace_merge(at(r), at(r + 1), at(r + 2), before);
            merged.push_back(runs[r + 2]);
        }
        if (runs.size() % 2 == 0) {
            merged.push_back(runs.back());
        }
        runs = std::move(merged);
    }
}

bool printable(const unsigned char* p, std::size_t n) {
    return std::all_of(p, p + n, [](unsigned char c) { return c >= 0x20 && c <= 0x7E; });
}

// Top-level box types of ISO/IEC 14496-12 (and QuickTime's wide, pnot and udta) that a file may
// end in.
bool knownTopLevel(const unsigned char* type) {
    static const char* const types[] = {"moov", "mdat", "moof", "mfra", "free", "skip",
                                        "wide", "meta", "uuid", "sidx", "ssix", "styp",
                                        "prft", "emsg", "pdin", "pnot", "udta"};
    return std::any_of(std::begin(types), std::end(types),
                       [type](const char* t) { return std::memcmp(type, t, 4) == 0; });
}

bool isType(const unsigned char* type, const char* name) {
    return std::memcmp(type, name, 4) == 0;
}

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// A stretch of the file, in offsets from its first byte.
struct Stretch {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
};

// What the walk of the top-level boxes found: the extent they give, the last whole movie box and
// the payloads of the media data boxes (as far as the evidence holds them).
struct Walk {
    Extent extent;
    std::uint64_t movieAt = 0; // 0: none
    std::uint64_t movieSize = 0;
    std::size_t movieHeader = 8;
    std::vector<Stretch> media;
    bool tooManyMedia = false;
    std::optional<QuickTimeMovie> tables; // of the movie box, once read
    bool tablesRead = false;

    // A sample takes a byte at least: no more of them than the evidence has bytes after H.
    std::optional<QuickTimeMovie>& movie(EvidenceReader& evidence, std::int64_t H) {
        if (!tablesRead && movieAt != 0) {
            const std::uint64_t room = evidence.size() - static_cast<std::uint64_t>(H);
            tables = QuickTimeMovie::read(
                evidence, static_cast<std::uint64_t>(H) + movieAt, movieSize, movieHeader,
                static_cast<std::size_t>(std::min<std::uint64_t>(room, QuickTimeMovie::maxSamples)));
        }
        tablesRead = true;
        return tables;
    }
};

// Media data boxes recorded at most; past that (a fragmented movie has one a fragment, and its
// movie box places no sample) the media data is not proven.
constexpr std::size_t maxMediaBoxes = 1 << 16;

Walk walkBoxes(EvidenceReader& evidence, std::int64_t H) {
    Walk walk;
    const std::uint64_t E = evidence.size();
    if (H < 0 || static_cast<std::uint64_t>(H) >= E) {
        walk.extent = Extent::rejected("outside the evidence");
        return walk;
    }
    const std::uint64_t avail = E - static_cast<std::uint64_t>(H);

    unsigned char box[16] = {};
    evidence.readAt(H, box, sizeof box);
    if (std::memcmp(box + 4, "ftyp", 4) != 0) {
        walk.extent = Extent::rejected("no ftyp box");
        return walk;
    }
    const std::uint64_t fileTypeSize = be32(box);
    if (fileTypeSize < 16 || fileTypeSize > QuickTimeExtent::maxFileTypeSize ||
        (fileTypeSize - 16) % 4 != 0) {
        walk.extent = Extent::rejected("impossible ftyp size");
        return walk;
    }
    if (!printable(box + 8, 4)) {
        walk.extent = Extent::rejected("major brand not printable");
        return walk;
    }
    if (fileTypeSize > avail) {
        walk.extent = Extent::rejected("ftyp cut off by the end of the evidence");
        return walk;
    }

    std::uint64_t at = fileTypeSize;
    std::uint64_t boxes = 1;
    bool movie = false;
    bool truncated = false;
    while (at < avail) {
        if (boxes >= QuickTimeExtent::maxBoxes) {
            truncated = true;
            break;
        }
        std::memset(box, 0, sizeof box);
        evidence.readAt(H + static_cast<std::int64_t>(at), box, sizeof box);
        if (!printable(box + 4, 4)) {
            break;
        }
        std::uint64_t size = be32(box);
        std::size_t header = 8;
        bool toTheEnd = false;
        if (size == 1) {
            size = be64(box + 8);
            header = 16;
            if (size < 16) {
                break;
            }
        } else if (size == 0) {
            toTheEnd = true;
            size = avail - at; // to the end of the file: as far as the evidence goes
        } else if (size < 8) {
            break;
        }
        // Whatever follows a file on the disk (text, another file's bytes) reads as a box of four
        // printable characters often enough, and its "size" then runs far past the end of the
        // evidence: only a box type that ends files is taken to run to that end. Once the movie
        // box is whole, so is the file: random bytes after it would otherwise pass for box after
        // box, so only box types that stand at the top level may follow.
        if ((movie || toTheEnd || size > avail - at) && !knownTopLevel(box + 4)) {
            break;
        }
        const bool media = isType(box + 4, "mdat");
        if (toTheEnd && walk.movieAt != 0 && media) {
            // Media data "to the end of the file" ends where the movie's last chunk does.
            std::uint64_t dataEnd = 0;
            if (const auto& tables = walk.movie(evidence, H)) {
                for (const QuickTimeMovie::Sample& sample : tables->samples) {
                    dataEnd = std::max(dataEnd, saturatingAdd(sample.offset, sample.size));
                }
            }
            if (dataEnd != 0) {
                size = std::max(at + 8, dataEnd) - at;
                if (size > avail - at) {
                    size = UINT64_MAX; // cut by the end of the evidence
                }
            }
        }
        ++boxes;
        if (media) {
            if (walk.media.size() == maxMediaBoxes) {
                walk.tooManyMedia = true;
            } else {
                walk.media.push_back(Stretch{at + header, size > avail - at ? avail : at + size});
            }
        }
        const bool isMovie = isType(box + 4, "moov") || isType(box + 4, "meta");
        if (isType(box + 4, "moov") && size <= avail - at) {
            walk.movieAt = at;
            walk.movieSize = size;
            walk.movieHeader = header;
            walk.tablesRead = false;
        }
        if (size > avail - at) {
            // Cut by the end of the evidence; a movie box cut there is no whole movie box.
            truncated = true;
            at = avail;
            break;
        }
        movie = movie || isMovie;
        at += size;
    }
    if (boxes == 1) {
        walk.extent = Extent::rejected("no box after ftyp");
    } else if (!movie) {
        walk.extent = Extent::rejected("no movie box");
    } else {
        walk.extent = Extent::found(at, truncated);
    }
    return walk;
}

// The media data proven by the movie's own tables: every sample lies in a media data box, and
// its bytes begin as its codec's do (an AVC or HEVC sample is a chain of NAL units that fills it
// exactly, read by their length prefixes alone). The samples are checked in file order: all of
// them over the first QuickTimeExtent::checkedSpan bytes, then an even spread, and where one of
// those fails, every sample back to the last that held. The file breaks at the first sample that
// fails: it ends at the last byte proven sound before it (past a NAL chain's last length prefix,
// or the end of a sample whose start code held), rounded on to the sector boundary that a file
// system's break would stand at, and never past that sample.
Extent proveMedia(EvidenceReader& evidence, std::int64_t H, Walk& walk) {
    const Extent walked = walk.extent;
    if (walk.tooManyMedia || walk.media.empty()) {
        return walked;
    }
    auto& tables = walk.movie(evidence, H);
    if (!tables) {
        return walked;
    }
    std::vector<QuickTimeMovie::Sample>& samples = tables->samples; // (sorted in place)
    sortByOffset(samples);
    const std::vector<Stretch>& media = walk.media;
    if (samples.front().offset < media.front().begin) {
        return walked; // tables that place samples before the media data describe another file
    }

    // The first sample that lies in no media data box, by a sweep of both in file order; the
    // samples before it that can be checked.
    std::size_t outside = samples.size();
    std::vector<std::size_t> checkable;
    for (std::size_t i = 0, box = 0; i < samples.size(); ++i) {
        const QuickTimeMovie::Sample& sample = samples[i];
        while (box < media.size() && media[box].end <= sample.offset) {
            ++box;
        }
        if (box == media.size() || sample.offset < media[box].begin ||
            sample.size > media[box].end - sample.offset) {
            outside = i;
            break;
        }
        const QuickTimeMovie::Track& track = tables->tracks[sample.track];
        if (track.start != QuickTimeMovie::Start::Unchecked && sample.size >= 8) {
            checkable.push_back(i);
        }
    }

    // Past the last byte each check read sound.
    std::uint64_t sound = media.front().begin;
    const PieceLayout asItLies{static_cast<std::uint64_t>(H), ~std::uint64_t{0}, 0};
    auto holds = [&](std::size_t c) {
        const QuickTimeMovie::Sample& sample = samples[checkable[c]];
        const QuickTimeMovie::Track& track = tables->tracks[sample.track];
        std::uint64_t checked = sound;
        bool ok = false;
        if (track.start == QuickTimeMovie::Start::Nal) {
            ok = QuickTimeMovie::nalChainHolds(evidence, asItLies, sample, track, &checked);
        } else {
            // Only its first bytes tell: the sample is taken for sound to its end.
            unsigned char first[8] = {};
            evidence.readAt(H + static_cast<std::int64_t>(sample.offset), first, sizeof first);
            ok = QuickTimeMovie::startHolds(first, track, sample.size);
            checked = sample.offset + sample.size;
        }
        if (ok) {
            sound = std::max(sound, checked);
        }
        return ok;
    };
    // The first of the checkable samples [from, to) that fails, in order, or `to`.
    auto firstFailing = [&](std::size_t from, std::size_t to) {
        while (from < to && holds(from)) {
            ++from;
        }
        return from;
    };

    const std::size_t n = checkable.size();
    std::size_t whole = 0; // all checked up to here
    if (n != 0) {
        const std::uint64_t spanEnd =
            saturatingAdd(samples[checkable.front()].offset, QuickTimeExtent::checkedSpan);
        while (whole < n && samples[checkable[whole]].offset < spanEnd) {
            ++whole;
        }
    }
    std::size_t failing = firstFailing(0, whole);
    if (failing == whole && whole < n) {
        const std::size_t stride =
            (n - whole + QuickTimeExtent::spreadChecks - 1) / QuickTimeExtent::spreadChecks;
        std::size_t from = whole;
        failing = n;
        // Every stride-th sample, and the last.
        for (std::size_t c = std::min(whole + stride, n) - 1;; c = std::min(c + stride, n - 1)) {
            if (!holds(c)) {
                failing = firstFailing(from, c + 1);
                break;
            }
            from = c + 1;
            if (c == n - 1) {
                break;
            }
        }
    }
    if (failing == n && outside < samples.size() && walked.truncated &&
        samples[outside].offset < walked.length) {
        return walked; // the media data sound up to a sample that the end of the evidence cuts
    }
    std::uint64_t broken = outside < samples.size() ? samples[outside].offset : UINT64_MAX;
    if (failing < n) {
        broken = std::min(broken, samples[checkable[failing]].offset);
    }
    if (broken == UINT64_MAX) {
        return walked;
    }
    // The break stands at a sector boundary after the last byte read sound.
    const auto start = static_cast<std::uint64_t>(H);
    const std::uint64_t sector = limits::sectorSize;
    const std::uint64_t boundary = (start + sound + sector - 1) / sector * sector - start;
    const std::uint64_t end = std::max(sound, std::min(broken, boundary));
    if (end >= walked.length) {
        return walked;
    }
    return Extent::found(end, true);
}

} // namespace

Extent QuickTimeExtent::measure(EvidenceReader& evidence, std::int64_t H) {
    Walk walk = walkBoxes(evidence, H);
    return walk.extent ? proveMedia(evidence, H, walk) : walk.extent;
}

void QuickTimeExtent::parts(EvidenceReader& evidence, std::int64_t H, std::uint64_t length,
                            std::vector<Part>& parts) {
    Walk walk = walkBoxes(evidence, H);
    if (!walk.extent) {
        return;
    }
    auto& tables = walk.movie(evidence, H);
    if (!tables) {
        return;
    }
    // Every chunk's samples lie one after another; chunks next to each other (a track's, or
    // the tracks' interleaved) make one stretch.
    std::vector<QuickTimeMovie::Sample>& samples = tables->samples; // (sorted in place)
    sortByOffset(samples);
    std::size_t listed = 0;
    Part part;
    for (const QuickTimeMovie::Sample& sample : samples) {
        if (sample.offset >= length) {
            break;
        }
        const std::uint64_t end = std::min(length, saturatingAdd(sample.offset, sample.size));
        if (part.length != 0 && sample.offset <= part.offset + part.length) {
            part.length = std::max(part.length, end - part.offset);
            continue;
        }
        if (part.length != 0) {
            if (listed++ == maxParts) {
                return;
            }
            parts.push_back(part);
        }
        part = Part{sample.offset, end - sample.offset};
    }
    if (part.length != 0 && listed < maxParts) {
        parts.push_back(part);
    }
}

} // namespace morrow
