// RIFF (Microsoft/IBM multimedia programming interface): "RIFF", a 32-bit little-endian size of
// what follows, the form type, then chunks: a code, a size, the data and a pad byte after an odd
// size. AVI ("AVI "): a header list 'hdrl' ('avih' first, a 'strl' list per stream whose 'strf'
// gives its compression), the movie list 'movi' of the streams' chunks, then the legacy index
// 'idx1' (16 bytes an entry: id, flags, offset, size). OpenDML files go on past 1 GiB in "AVIX"
// forms, each a movie list of its own, and count their frames in 'odml'/'dmlh'. A writer that
// stops before its end leaves 0xFFFFFFFF in the sizes of the RIFF and its movie list. CD-XA (a
// video CD's .dat): a 'fmt ' chunk, then 'data' holding raw sectors of 2352 bytes, each beginning
// with the sync pattern 00, ten FF, 00.
#include "formats/RiffExtent.h"

#include "evidence/EvidenceReader.h"
#include "formats/AviChunks.h"
#include "formats/BlockWindow.h"
#include "formats/ExactEnds.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace morrow {

namespace {

constexpr unsigned char cdSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr std::uint32_t unwritten = 0xFFFFFFFF;
constexpr std::size_t maxStreams = 100;
constexpr std::size_t indexBlock = std::size_t{64} << 10;

enum class Level { top, header, movie };

bool is(const unsigned char* p, const char* id) {
    return std::memcmp(p, id, 4) == 0;
}

// The characters writers make chunk codes of.
bool fourcc(const unsigned char* p) {
    return std::all_of(p, p + 4, [](unsigned char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' ||
               c == '_';
    });
}

int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// A stream chunk's type: "dc", "wb", "tx" ... and DV's interleaved "__".
bool typeCharacter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// A stream's chunk "##xx": its stream number (two decimal digits, or hexadecimal), -1 for any
// other id.
int streamNumber(const unsigned char* id) {
    const int high = hexValue(id[0]);
    const int low = hexValue(id[1]);
    if (high < 0 || low < 0 || !typeCharacter(id[2]) || !typeCharacter(id[3])) {
        return -1;
    }
    return high < 10 && low < 10 ? high * 10 + low : high * 16 + low;
}

// OpenDML's standard index chunk "ix##".
bool indexChunk(const unsigned char* id) {
    return id[0] == 'i' && id[1] == 'x' && hexValue(id[2]) >= 0 && hexValue(id[3]) >= 0;
}

// One walk of the file at H, over its first `avail` bytes at most.
class Walk {
  public:
    Walk(EvidenceReader& evidence, std::int64_t H, std::uint64_t avail, std::vector<Part>* parts)
        : evidence_(evidence), H_(H), avail_(avail), parts_(parts) {}

    Extent run() {
        unsigned char head[12] = {};
        read(0, head, sizeof head);
        if (!is(head, "RIFF")) {
            return Extent::rejected("no RIFF chunk");
        }
        cdxa_ = is(head + 8, "CDXA");
        if (!cdxa_ && !is(head + 8, "AVI ")) {
            return Extent::rejected("neither an AVI nor a CD-XA form");
        }
        const std::uint32_t size = le32(head + 4);
        if (size < 4) {
            return Extent::rejected("RIFF too small for its form");
        }
        const std::uint64_t riffEnd = size == unwritten ? ~std::uint64_t{0} : 8 + std::uint64_t{size};
        const bool whole = list(12, riffEnd, Level::top, 0);
        if (cdxa_) {
            if (sectorsEnd_ == 0) {
                return Extent::rejected("no sound CD-XA sector");
            }
            return whole ? Extent::found(riffEnd) : Extent::found(provenEnd_, true);
        }
        if (!headerWhole_) {
            return Extent::rejected("no AVI header");
        }
        if (!whole) {
            if (firstStreamEnd_ == 0 || firstStreamEnd_ > provenEnd_) {
                return Extent::rejected("broken before its first stream chunk");
            }
            return Extent::found(provenEnd_, true);
        }
        // OpenDML: the AVIX forms that follow directly are the same movie's.
        std::uint64_t end = riffEnd;
        firstRiff_ = false;
        while (end <= avail_ && avail_ - end >= 12) {
            read(end, head, sizeof head);
            const std::uint32_t more = le32(head + 4);
            if (!is(head, "RIFF") || !is(head + 8, "AVIX") || more < 4) {
                break;
            }
            const std::uint64_t moreEnd = more == unwritten ? ~std::uint64_t{0} : end + 8 + more;
            if (!list(end + 12, moreEnd, Level::top, 0)) {
                return Extent::found(provenEnd_, true);
            }
            end = moreEnd;
        }
        // A movie that counts more frames than its chunks hold had more forms to come.
        return Extent::found(end, dmlhFrames_ > *std::max_element(frames_.begin(), frames_.end()));
    }

  private:
    // The file's bytes [at, at + n); what lies past `avail_` reads as zeros.
    void read(std::uint64_t at, unsigned char* out, std::size_t n) {
        std::memset(out, 0, n);
        if (at < avail_) {
            evidence_.readAt(H_ + static_cast<std::int64_t>(at), out,
                             static_cast<std::size_t>(std::min<std::uint64_t>(n, avail_ - at)));
        }
    }

    // Walks the chunks of [at, end): true when they fill it, false where the file breaks (the
    // file then ends at provenEnd_).
    bool list(std::uint64_t at, std::uint64_t end, Level level, int depth) {
        while (at < end) {
            if (at >= avail_ || avail_ - at < 8) {
                // The evidence ends here: the chunks before stood whole.
                provenEnd_ = std::max(provenEnd_, std::min(at, avail_));
                return false;
            }
            unsigned char head[12] = {};
            read(at, head, sizeof head);
            const std::uint64_t size = le32(head + 4);
            const std::uint64_t data = at + 8;
            const bool isList = is(head, "LIST");
            // A movie list whose size was never written runs to its parent's end.
            const bool unsized = isList && size == unwritten && is(head + 8, "movi");
            bool sound = end - at >= 8 && (unsized || size <= end - data);
            bool strong = true; // a chunk of this id proves where the one before it ends
            const int stream = level == Level::movie ? streamNumber(head) : -1;
            if (level == Level::header) {
                sound = sound && avi::code(head) && (!expectHeader_ || (is(head, "avih") && size >= 56));
                expectHeader_ = false;
            } else if (level == Level::top) {
                sound = sound && fourcc(head);
                strong = isList || is(head, "JUNK") || is(head, "idx1") ||
                         (cdxa_ && (is(head, "fmt ") || is(head, "data")));
            } else {
                sound = sound && ((stream >= 0 && static_cast<std::size_t>(stream) < streams_) ||
                                  indexChunk(head) || is(head, "JUNK") || (isList && is(head + 8, "rec ")));
            }
            if (!sound) {
                return brokeAfter();
            }
            if (strong) {
                provenEnd_ = std::max(provenEnd_, at);
            }
            const std::uint64_t next = unsized ? end : data + size + (size & 1);
            if (isList) {
                if (size < 4 || !avi::code(head + 8) || depth >= RiffExtent::maxDepth) {
                    return brokeAfter();
                }
                if (!sublist(at, head, unsized ? end : data + size, level, depth)) {
                    return false;
                }
            } else if (level == Level::top && is(head, "idx1") && firstRiff_ && movi_ != 0 && !indexed_) {
                if (!index(at, size)) {
                    return false;
                }
            } else if (level == Level::top && cdxa_ && is(head, "data")) {
                if (!sectors(at, size)) {
                    return false;
                }
            } else {
                if (size > avail_ - data) {
                    return false; // cut by the end of the evidence
                }
                lastFrame_ = {};
                if (level == Level::header) {
                    header(head, data, size);
                } else if (level == Level::movie && !movieChunk(at, head, size, stream)) {
                    return false; // its bytes are not the stream's: the file breaks at its header
                }
                at = next;
                continue;
            }
            // Closed by its own structure.
            provenEnd_ = std::max(provenEnd_, std::min(next, avail_));
            lastFrame_ = {};
            at = next;
        }
        return true;
    }

    bool sublist(std::uint64_t at, const unsigned char* head, std::uint64_t end, Level level, int depth) {
        const std::uint64_t data = at + 8;
        const bool movi = is(head + 8, "movi");
        if (movi && firstRiff_ && movi_ == 0) {
            movi_ = data;
        }
        if (level == Level::movie) {
            keep(at, head + 8, le32(head + 4)); // an index entry may name a 'rec ' list
            touch_ = at == touch_ ? data + 4 : touch_;
        }
        const bool aviHeader = level == Level::top && is(head + 8, "hdrl") && firstRiff_;
        if (level == Level::header && is(head + 8, "strl")) {
            ++streams_;
        }
        expectHeader_ = aviHeader;
        const Level inner = level == Level::movie || movi ? Level::movie : Level::header;
        if (!list(data + 4, end, inner, depth + 1)) {
            return false;
        }
        if (aviHeader) {
            headerWhole_ = !expectHeader_; // 'avih' came first
            expectHeader_ = false;
        }
        return true;
    }

    // What the header list says that the walk needs: each stream's compression, the OpenDML
    // frame count.
    void header(const unsigned char* head, std::uint64_t data, std::uint64_t size) {
        if (is(head, "strf") && size >= 20 && streams_ > 0 && streams_ <= maxStreams) {
            unsigned char compression[4] = {};
            read(data + 16, compression, sizeof compression);
            mjpeg_[streams_ - 1] = avi::motionJpeg(compression);
        } else if (is(head, "dmlh") && size >= 4) {
            unsigned char frames[4] = {};
            read(data, frames, sizeof frames);
            dmlhFrames_ = le32(frames);
        }
    }

    // A chunk of the movie list, whose header stood and whose bytes lie in the evidence.
    bool movieChunk(std::uint64_t at, const unsigned char* head, std::uint64_t size, int stream) {
        keep(at, head, size);
        if (stream < 0) {
            return true;
        }
        const std::uint64_t data = at + 8;
        const auto s = static_cast<std::size_t>(stream);
        const bool frame = avi::frameStream(head) == stream;
        const bool jpeg = size >= 2 && head[8] == 0xFF && head[9] == 0xD8;
        if (s < maxStreams && mjpeg_[s] && frame && size > 0 && !jpeg) {
            return false;
        }
        if (jpeg) {
            std::array<unsigned char, RiffExtent::frameHead> bytes{};
            const auto have = static_cast<std::size_t>(std::min<std::uint64_t>(size, bytes.size()));
            read(data, bytes.data(), have);
            if (!avi::frameMarkers(bytes.data(), have, size, false).ok) {
                return false;
            }
            lastFrame_ = {data, size};
        }
        if (frame && s < maxStreams) {
            ++frames_[s];
        }
        if (firstStreamEnd_ == 0) {
            firstStreamEnd_ = data + size;
        }
        part(at, data, size);
        return true;
    }

    // Kept for the index check, as far as maxChunks allows.
    void keep(std::uint64_t at, const unsigned char* id, std::uint64_t size) {
        if (chunks_.size() >= RiffExtent::maxChunks) {
            judgedTo_ = std::min(judgedTo_, at);
            return;
        }
        avi::Chunk chunk{at, static_cast<std::uint32_t>(size), {}};
        std::memcpy(chunk.id, id, 4);
        chunks_.push_back(chunk);
    }

    // The legacy index: its entries, as far as they lie in the evidence, must name the movie
    // list's chunks. Where one does not, the file breaks there.
    bool index(std::uint64_t at, std::uint64_t size) {
        indexed_ = true;
        const std::uint64_t data = at + 8;
        const std::uint64_t present =
            std::min(size, avail_ - data) / avi::IndexCheck::entrySize * avi::IndexCheck::entrySize;
        avi::IndexCheck entries(chunks_, movi_, judgedTo_);
        std::vector<unsigned char> block(
            static_cast<std::size_t>(std::min<std::uint64_t>(present, indexBlock)));
        for (std::uint64_t e = 0; e < present && entries.whole(); e += block.size()) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), present - e));
            read(data + e, block.data(), n);
            entries.add(block.data(), n);
        }
        if (entries.whole() && present == size) {
            return true;
        }
        const std::uint64_t stood = entries.stood();
        provenEnd_ = std::max(provenEnd_, stood == 0 ? at : data + stood * avi::IndexCheck::entrySize);
        return false;
    }

    // A CD-XA file's raw sectors, each starting with the sync pattern.
    bool sectors(std::uint64_t at, std::uint64_t size) {
        const std::uint64_t data = at + 8;
        const std::uint64_t end = data + size;
        const std::uint64_t window =
            std::min({std::uint64_t{1} << 20, size, avail_ - std::min(data, avail_)});
        BlockWindow blocks(evidence_,
                           static_cast<std::size_t>(std::max<std::uint64_t>(window, sizeof cdSync)));
        std::uint64_t s = data;
        bool cut = false;
        for (; s < end; s += RiffExtent::cdSector) {
            if (std::min(end, s + RiffExtent::cdSector) > avail_ || end - s < sizeof cdSync) {
                cut = true;
                break;
            }
            const auto offset = static_cast<std::uint64_t>(H_) + s;
            unsigned char sync[sizeof cdSync] = {};
            if (blocks.load(offset) >= sizeof sync) {
                std::memcpy(sync, blocks.at(offset), sizeof sync);
            } else {
                read(s, sync, sizeof sync);
            }
            if (std::memcmp(sync, cdSync, sizeof sync) != 0) {
                break;
            }
        }
        if (s >= end) {
            sectorsEnd_ = end;
            part(at, data, size);
            return true;
        }
        // Cut by the end of the evidence, the sectors before stood; before a sector whose sync is
        // wrong, the last may be one cut short.
        const std::uint64_t kept = cut || s == data ? s : s - RiffExtent::cdSector;
        if (kept > data) {
            sectorsEnd_ = kept;
            part(at, data, kept - data);
        }
        provenEnd_ = std::max(provenEnd_, kept == data ? at : kept);
        return false;
    }

    // The walk broke at a header: the chunk before it may be one cut short, unless it closed
    // itself, as a Motion-JPEG frame does with its end marker (zeros may pad it).
    bool brokeAfter() {
        if (lastFrame_.size >= 4) {
            unsigned char tail[64] = {};
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(lastFrame_.size, sizeof tail));
            read(lastFrame_.data + lastFrame_.size - n, tail, n);
            std::size_t k = n;
            while (k > 2 && tail[k - 1] == 0) {
                --k;
            }
            if (tail[k - 2] == 0xFF && tail[k - 1] == 0xD9) {
                const std::uint64_t next = lastFrame_.data + lastFrame_.size + (lastFrame_.size & 1);
                provenEnd_ = std::max(provenEnd_, std::min(next, avail_));
            }
        }
        return false;
    }

    // The `size` bytes at `data` of the chunk at `at`, one part with the last one when only
    // stream chunks' headers (and empty chunks, and 'rec ' lists' headers) lie between them.
    void part(std::uint64_t at, std::uint64_t data, std::uint64_t size) {
        if (parts_ == nullptr) {
            return;
        }
        const bool touches = !parts_->empty() && at == touch_;
        if (size == 0) {
            touch_ = touches ? data : touch_;
        } else if (touches) {
            parts_->back().length = data + size - parts_->back().offset;
            touch_ = data + size + (size & 1);
        } else if (parts_->size() < maxParts) {
            parts_->push_back(Part{data, size});
            touch_ = data + size + (size & 1);
        } else {
            touch_ = ~std::uint64_t{0};
        }
    }

    struct Frame {
        std::uint64_t data = 0;
        std::uint64_t size = 0;
    };

    EvidenceReader& evidence_;
    std::int64_t H_;
    std::uint64_t avail_;
    std::vector<Part>* parts_;
    std::uint64_t touch_ = ~std::uint64_t{0}; // where a chunk starts that goes on the last part
    bool cdxa_ = false;
    bool firstRiff_ = true;
    // Where the file is proven to run to: the end of the last chunk that stood.
    std::uint64_t provenEnd_ = 0;
    Frame lastFrame_; // the last chunk walked, when it is a JPEG frame
    bool expectHeader_ = false;
    bool headerWhole_ = false;
    std::size_t streams_ = 0;
    std::array<bool, maxStreams> mjpeg_{};
    std::array<std::uint32_t, maxStreams> frames_{};
    std::uint32_t dmlhFrames_ = 0;
    std::uint64_t firstStreamEnd_ = 0;
    std::uint64_t movi_ = 0;
    bool indexed_ = false;
    std::vector<avi::Chunk> chunks_;
    std::uint64_t judgedTo_ = ~std::uint64_t{0};
    std::uint64_t sectorsEnd_ = 0;
};

std::uint64_t available(EvidenceReader& evidence, std::int64_t H) {
    return H < 0 || static_cast<std::uint64_t>(H) >= evidence.size()
               ? 0
               : evidence.size() - static_cast<std::uint64_t>(H);
}

} // namespace

Extent RiffExtent::measure(EvidenceReader& evidence, std::int64_t H) {
    const std::uint64_t avail = available(evidence, H);
    if (avail == 0) {
        return Extent::rejected("outside the evidence");
    }
    return Walk(evidence, H, avail, nullptr).run();
}

void RiffExtent::parts(EvidenceReader& evidence, std::int64_t H, std::uint64_t length,
                       std::vector<Part>& parts) {
    std::vector<Part> found;
    Walk(evidence, H, std::min(length, available(evidence, H)), &found).run();
    for (const Part& p : found) {
        if (p.offset < length) {
            parts.push_back(Part{p.offset, std::min(p.length, length - p.offset)});
        }
    }
}

} // namespace morrow
