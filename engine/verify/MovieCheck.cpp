#include "verify/MovieCheck.h"

#include <cstring>
#include <vector>

namespace morrow::movie {

using check::be32;

namespace {

struct Box {
    std::uint64_t at = 0;      // its header
    std::uint64_t content = 0; // past its header
    std::uint64_t end = 0;
    std::string type;
};

// The boxes in [begin, end); false with `fault` when one does not fit.
bool children(check::Bytes file, std::uint64_t begin, std::uint64_t end, std::vector<Box>& boxes,
              std::string& fault) {
    boxes.clear();
    for (std::uint64_t at = begin; end - at >= 8;) {
        std::uint64_t size = be32(file.data + at);
        std::uint64_t header = 8;
        if (size == 1) {
            if (end - at < 16) {
                fault = "movie box at byte " + std::to_string(at) + " is cut in its header";
                return false;
            }
            size = std::uint64_t{be32(file.data + at + 8)} << 32 | be32(file.data + at + 12);
            header = 16;
        } else if (size == 0) {
            size = end - at;
        }
        std::string type(reinterpret_cast<const char*>(file.data + at + 4), 4);
        for (char& c : type) {
            c = c >= 0x20 && c < 0x7F ? c : '?'; // a fault names damage in plain text
        }
        if (size < header) {
            fault = "movie box '" + type + "' at byte " + std::to_string(at) + " has no sound size";
            return false;
        }
        if (size > end - at) {
            fault = "movie box '" + type + "' at byte " + std::to_string(at) + " runs past the end of " +
                    (begin == 0 ? "the file by " + std::to_string(size - (end - at)) + " bytes"
                                : std::string("its parent box"));
            return false;
        }
        boxes.push_back(Box{at, at + header, at + size, type});
        at += size;
    }
    return true;
}

const Box* find(const std::vector<Box>& boxes, const char* type) {
    for (const Box& box : boxes) {
        if (box.type == type) {
            return &box;
        }
    }
    return nullptr;
}

// One track's sample table: each chunk's samples lie within the file.
std::string checkTrack(check::Bytes file, const Box& stbl, int track) {
    std::vector<Box> boxes;
    std::string fault;
    if (!children(file, stbl.content, stbl.end, boxes, fault)) {
        return fault;
    }
    const std::string name = "movie track " + std::to_string(track);
    const Box* stsz = find(boxes, "stsz");
    const Box* stsc = find(boxes, "stsc");
    const Box* stco = find(boxes, "stco");
    const Box* co64 = find(boxes, "co64");
    if (stsz == nullptr || stsc == nullptr || (stco == nullptr && co64 == nullptr)) {
        return {}; // no sample table of this kind (a fragmented movie's tracks, hint tracks)
    }
    const unsigned char* d = file.data;
    auto entries = [&](const Box& box, std::uint64_t skip, std::uint64_t entryBytes, std::uint64_t& count) {
        if (box.end - box.content < skip + 4) {
            return false;
        }
        count = be32(d + box.content + skip);
        return count <= (box.end - box.content - skip - 4) / entryBytes;
    };
    const Box& offsets = co64 != nullptr ? *co64 : *stco;
    const std::uint64_t offsetBytes = co64 != nullptr ? 8 : 4;
    std::uint64_t chunks = 0;
    std::uint64_t rules = 0;
    std::uint64_t samples = 0;
    if (!entries(offsets, 4, offsetBytes, chunks)) {
        return name + ": its chunk offset table claims more entries than it holds";
    }
    if (!entries(*stsc, 4, 12, rules)) {
        return name + ": its sample-to-chunk table claims more entries than it holds";
    }
    if (stsz->end - stsz->content < 12) {
        return name + ": its sample size box is cut";
    }
    const std::uint32_t fixedSize = be32(d + stsz->content + 4);
    samples = be32(d + stsz->content + 8);
    if (fixedSize == 0 && samples > (stsz->end - stsz->content - 12) / 4) {
        return name + ": its sample size table claims more entries than it holds";
    }
    const unsigned char* sizes = d + stsz->content + 12;
    const unsigned char* rule = d + stsc->content + 8;
    std::uint64_t sample = 0;
    std::uint64_t r = 0;
    for (std::uint64_t chunk = 0; chunk < chunks && sample < samples; ++chunk) {
        // The rule in force: the last whose first chunk (numbered from 1) is at or before this one.
        while (r + 1 < rules && be32(rule + 12 * (r + 1)) <= chunk + 1) {
            ++r;
        }
        const std::uint64_t perChunk = rules == 0 ? 0 : be32(rule + 12 * r + 4);
        std::uint64_t at = co64 != nullptr ? std::uint64_t{be32(d + offsets.content + 8 + 8 * chunk)} << 32 |
                                                 be32(d + offsets.content + 12 + 8 * chunk)
                                           : be32(d + offsets.content + 8 + 4 * chunk);
        const std::uint64_t start = at;
        for (std::uint64_t i = 0; i < perChunk && sample < samples; ++i, ++sample) {
            at += fixedSize != 0 ? fixedSize : be32(sizes + 4 * sample);
        }
        if (at > file.size) {
            return name + ": chunk " + std::to_string(chunk + 1) + " at byte " + std::to_string(start) +
                   " runs past the end of the file by " + std::to_string(at - file.size) + " bytes";
        }
    }
    return {};
}

} // namespace

FileVerdict checkQuickTime(check::Bytes file) {
    std::vector<Box> top;
    std::string fault;
    if (!children(file, 0, file.size, top, fault)) {
        return check::damaged(fault);
    }
    const Box* moov = find(top, "moov");
    if (moov == nullptr) {
        return check::damaged("movie has no movie box (moov)");
    }
    std::vector<Box> inMovie;
    if (!children(file, moov->content, moov->end, inMovie, fault)) {
        return check::damaged(fault);
    }
    int track = 0;
    for (const Box& trak : inMovie) {
        if (trak.type != "trak") {
            continue;
        }
        ++track;
        // trak > mdia > minf > stbl
        const Box* box = &trak;
        std::vector<Box> path[3];
        static const char* const inside[] = {"mdia", "minf", "stbl"};
        for (int step = 0; step < 3 && box != nullptr; ++step) {
            if (!children(file, box->content, box->end, path[step], fault)) {
                return check::damaged(fault);
            }
            box = find(path[step], inside[step]);
        }
        if (box == nullptr) {
            continue;
        }
        if (const std::string broken = checkTrack(file, *box, track); !broken.empty()) {
            return check::damaged(broken);
        }
    }
    return check::opens();
}

} // namespace morrow::movie
