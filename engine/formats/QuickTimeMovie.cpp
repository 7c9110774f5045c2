// ISO/IEC 14496-12, 8.7.3 to 8.7.5: a track's chunk offsets (stco, co64), samples to chunk
// (stsc) and sample sizes (stsz) place every sample; ISO/IEC 14496-15, 5.3.3 and 8.3.3: an AVC or
// HEVC sample is a chain of NAL units, each after a length of lengthSizeMinusOne + 1 bytes (from
// avcC or hvcC).
#include "formats/QuickTimeMovie.h"

#include "evidence/EvidenceReader.h"
#include "formats/FragmentJoin.h"

#include <algorithm>
#include <cstring>

namespace morrow {

namespace {

using Start = QuickTimeMovie::Start;
using Track = QuickTimeMovie::Track;
using Sample = QuickTimeMovie::Sample;

bool isType(const unsigned char* type, const char* name) {
    return std::memcmp(type, name, 4) == 0;
}

// A box's children in [from, to) of `box`, each as (type, payload, payload end).
template <typename Each>
bool children(const std::vector<unsigned char>& box, std::size_t from, std::size_t to, Each&& each) {
    while (from + 8 <= to) {
        std::uint64_t size = be32(&box[from]);
        std::size_t header = 8;
        if (size == 1 && from + 16 <= to) {
            size = be64(&box[from + 8]);
            header = 16;
        }
        if (size < header || size > to - from) {
            return false;
        }
        each(&box[from + 4], from + header, from + static_cast<std::size_t>(size));
        from += static_cast<std::size_t>(size);
    }
    return from == to;
}

} // namespace

std::optional<QuickTimeMovie> QuickTimeMovie::read(const std::vector<unsigned char>& movie,
                                                   std::size_t limit) {
    limit = std::min(limit, maxSamples);
    std::vector<Track> tracks;
    std::vector<Sample> samples;
    bool sound = true;
    auto trak = [&](const unsigned char* type, std::size_t from, std::size_t to) {
        if (!isType(type, "trak")) {
            return;
        }
        Track track;
        std::vector<std::uint64_t> chunks;
        std::vector<std::uint64_t> sizes;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> perChunk; // first chunk, samples
        bool haveSizes = false;
        auto table = [&](const unsigned char* t, std::size_t a, std::size_t b) {
            const std::size_t n = b - a;
            if (isType(t, "stsd") && n >= 16) {
                const unsigned char* entry = &movie[a + 12];
                if (isType(entry, "avc1") || isType(entry, "avc3") || isType(entry, "hvc1") ||
                    isType(entry, "hev1")) {
                    const bool hevc = entry[0] == 'h';
                    const char* config = hevc ? "hvcC" : "avcC";
                    const auto found =
                        std::search(movie.begin() + static_cast<std::ptrdiff_t>(a),
                                    movie.begin() + static_cast<std::ptrdiff_t>(b), config, config + 4);
                    const std::size_t at = static_cast<std::size_t>(found - movie.begin()) + 4;
                    const std::size_t field = at + (hevc ? 21 : 4);
                    if (found != movie.begin() + static_cast<std::ptrdiff_t>(b) && field < b) {
                        track.start = Start::Nal;
                        track.lengthSize = (movie[field] & 3u) + 1;
                        sound = sound && track.lengthSize != 3;
                    }
                } else if (isType(entry, "mp4v")) {
                    track.start = Start::StartCode;
                } else if (isType(entry, "s263") || isType(entry, "h263")) {
                    track.start = Start::H263;
                } else if (isType(entry, "jpeg") || isType(entry, "mjpa")) {
                    track.start = Start::Jpeg;
                }
            } else if ((isType(t, "stco") || isType(t, "co64")) && n >= 8) {
                const std::size_t width = isType(t, "co64") ? 8 : 4;
                const std::uint64_t count = be32(&movie[a + 4]);
                if (count > (n - 8) / width) {
                    sound = false;
                    return;
                }
                for (std::uint64_t i = 0; i < count; ++i) {
                    const unsigned char* p = &movie[a + 8 + i * width];
                    chunks.push_back(width == 8 ? be64(p) : be32(p));
                }
            } else if (isType(t, "stsz") && n >= 12) {
                const std::uint64_t fixed = be32(&movie[a + 4]);
                const std::uint64_t count = be32(&movie[a + 8]);
                if (count > limit || (fixed == 0 && count > (n - 12) / 4)) {
                    sound = false;
                    return;
                }
                for (std::uint64_t i = 0; i < count; ++i) {
                    sizes.push_back(fixed != 0 ? fixed : be32(&movie[a + 12 + i * 4]));
                }
                haveSizes = true;
            } else if (isType(t, "stsc") && n >= 8) {
                const std::uint64_t count = be32(&movie[a + 4]);
                if (count > (n - 8) / 12) {
                    sound = false;
                    return;
                }
                for (std::uint64_t i = 0; i < count; ++i) {
                    perChunk.emplace_back(be32(&movie[a + 8 + i * 12]), be32(&movie[a + 12 + i * 12]));
                }
            }
        };
        // trak > mdia > minf > stbl > the tables.
        auto into = [&](const char* name, auto&& inner) {
            return [&, name, inner](const unsigned char* t, std::size_t a, std::size_t b) {
                if (isType(t, name)) {
                    sound = children(movie, a, b, inner) && sound;
                }
            };
        };
        sound = children(movie, from, to, into("mdia", into("minf", into("stbl", table)))) && sound;
        if (!sound || !haveSizes) {
            return; // a track without its sizes (stz2) is not followed
        }
        // Each chunk's samples, one after another from its offset.
        std::size_t next = 0;
        for (std::size_t c = 0; c < chunks.size() && sound; ++c) {
            std::uint64_t inChunk = 0;
            for (const auto& [first, count] : perChunk) {
                if (first <= c + 1) {
                    inChunk = count;
                }
            }
            std::uint64_t at = chunks[c];
            for (std::uint64_t i = 0; i < inChunk && next < sizes.size(); ++i, ++next) {
                samples.push_back(Sample{at, sizes[next], tracks.size()});
                at += sizes[next];
            }
            sound = samples.size() <= limit;
        }
        sound = sound && next == sizes.size();
        tracks.push_back(track);
    };
    if (!children(movie, 0, movie.size(), trak) || !sound || samples.empty()) {
        return std::nullopt;
    }
    QuickTimeMovie read;
    read.tracks = std::move(tracks);
    read.samples = std::move(samples);
    return read;
}

std::optional<QuickTimeMovie> QuickTimeMovie::read(EvidenceReader& evidence, std::uint64_t at,
                                                   std::uint64_t size, std::size_t header,
                                                   std::size_t limit) {
    if (size > maxMovie || size < header) {
        return std::nullopt;
    }
    std::vector<unsigned char> movie(static_cast<std::size_t>(size - header));
    evidence.readAt(static_cast<std::int64_t>(at + header), movie.data(), movie.size());
    return read(movie, limit);
}

bool QuickTimeMovie::startHolds(const unsigned char* p, const Track& track, std::uint64_t size) {
    switch (track.start) {
    case Start::Nal: {
        std::uint64_t length = 0;
        for (unsigned i = 0; i < track.lengthSize; ++i) {
            length = (length << 8) | p[i];
        }
        return length > 0 && length + track.lengthSize <= size && (p[track.lengthSize] & 0x80) == 0;
    }
    case Start::StartCode:
        return p[0] == 0 && p[1] == 0 && p[2] == 1;
    case Start::H263:
        return p[0] == 0 && p[1] == 0 && (p[2] & 0xFC) == 0x80;
    case Start::Jpeg:
        return p[0] == 0xFF && p[1] == 0xD8;
    case Start::Unchecked:
        break;
    }
    return false;
}

bool QuickTimeMovie::nalChainHolds(EvidenceReader& evidence, const PieceLayout& layout, const Sample& sample,
                                   const Track& track, std::uint64_t* checked) {
    std::uint64_t at = 0;
    while (at < sample.size) {
        unsigned char head[5] = {};
        if (sample.size - at < track.lengthSize + 1u) {
            return false;
        }
        layout.read(evidence, sample.offset + at, head, track.lengthSize + 1u);
        std::uint64_t length = 0;
        for (unsigned i = 0; i < track.lengthSize; ++i) {
            length = (length << 8) | head[i];
        }
        if (length == 0 || (head[track.lengthSize] & 0x80) != 0 ||
            length > sample.size - at - track.lengthSize) {
            return false;
        }
        if (checked != nullptr) {
            *checked = sample.offset + at + track.lengthSize + 1;
        }
        at += track.lengthSize + length;
    }
    return true;
}

} // namespace morrow
