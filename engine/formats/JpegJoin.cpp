// JPEG's proof of a join (ITU-T T.81): the entropy-coded data of a baseline scan, decoded with
// the file's own Huffman tables across the join, must give every block a valid code (no
// coefficient past the 64th), meet its restart markers in sequence after each interval, and end
// with exactly the frame's number of MCUs, then EOI. A progressive picture's scans likewise, each
// with its own number of MCUs and the tables as the segments before it left them, every
// refinement consistent with the coefficients the scans before found non-zero, through the
// segments between scans to EOI.
#include "formats/FragmentJoin.h"

#include "base/Limits.h"
#include "evidence/EvidenceReader.h"
#include "formats/BlockWindow.h"
#include "formats/JoinSectors.h"
#include "formats/JpegTables.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>

namespace morrow {

namespace {

using namespace jpeg;

constexpr std::uint64_t sector = limits::sectorSize;
// MCU states kept from the first piece's decode, at most (one every so many MCUs past that).
constexpr std::size_t maxStates = 1 << 16;

// Where a decode stands at the start of an MCU: enough to go on from there over other bytes.
struct State {
    std::uint64_t at = 0;   // the next byte to fetch, in the file's own offsets (from H)
    std::uint64_t bits = 0; // fetched and not yet used: the low `bitCount` bits, first bit highest
    int bitCount = 0;
    bool atMarker = false; // fetching stopped at a marker at `at`
    // Between scan `scan` and the next (progressive): at the marker after its data.
    bool headers = false;
    unsigned scan = 0;            // of the picture's scans as the first piece's decode met them
    std::uint32_t endOfBands = 0; // blocks still to skip of a progressive AC scan's EOB run
    std::uint64_t mcu = 0;
    unsigned nextRestart = 0;
    // Just past the last restart marker met in sequence: the bytes up to there are the file's.
    std::uint64_t restartEnd = 0;
    // The scan whose data comes next: the one whose coefficient bits the state goes with.
    unsigned pending() const { return headers ? scan + 1 : scan; }
};

// Which coefficients of each block a progressive decode has found non-zero so far, a bit each:
// an AC refinement scan reads a correction bit for those and codes only the others. Trials from
// the same break put back what the last one changed.
class Coded {
  public:
    std::vector<std::uint64_t> words;

    void resize(std::uint64_t blocks) {
        words.assign(static_cast<std::size_t>(blocks), 0);
        base_ = words;
    }
    void set(std::size_t block, std::uint64_t bits) {
        if (logging_) {
            if (touched_.size() < maxTouched) {
                touched_.push_back(static_cast<std::uint32_t>(block));
            } else {
                spilled_ = true;
            }
        }
        words[block] = bits;
        changed_ = true;
    }
    // The bits as a scan's data begins, copied when a scan since the last copy changed them:
    // how many words were copied.
    std::uint64_t snapshot() {
        if (!changed_) {
            return 0;
        }
        changed_ = false;
        std::copy(words.begin(), words.end(), base_.begin());
        return words.size();
    }
    // Ready for trials that resume a scan of `plane` at MCUs from `from` on: the bits the first
    // piece's decode gave the blocks before, and those it gave up to `to` kept apart.
    void prepare(const Plane* plane, std::uint64_t from, std::uint64_t to) {
        if (logging_) {
            // Prepared before for the same break: the bits as the first piece's decode left
            // them are the base with all it kept apart.
            resume(sliceFrom_ + slice_.size());
        }
        slice_.clear();
        plane_ = plane;
        if (plane != nullptr) {
            for (std::uint64_t m = 0; m < to; ++m) {
                const std::size_t block = index(*plane, m);
                if (m < from) {
                    base_[block] = words[block];
                } else {
                    slice_.push_back(words[block]);
                }
            }
        }
        sliceFrom_ = from;
        std::copy(base_.begin(), base_.end(), words.begin());
        touched_.clear();
        spilled_ = false;
        logging_ = true;
    }
    // The bits as the first piece's decode had them at MCU `mcu` of the scan prepared for.
    void resume(std::uint64_t mcu) {
        if (spilled_) {
            std::copy(base_.begin(), base_.end(), words.begin());
        } else {
            for (const std::uint32_t block : touched_) {
                words[block] = base_[block];
            }
        }
        touched_.clear();
        spilled_ = false;
        for (std::uint64_t m = sliceFrom_; plane_ != nullptr && m < mcu && m - sliceFrom_ < slice_.size();
             ++m) {
            set(index(*plane_, m), slice_[m - sliceFrom_]);
        }
    }
    // The block of MCU `m` of a scan of the plane alone.
    static std::size_t index(const Plane& plane, std::uint64_t m) {
        return static_cast<std::size_t>(plane.offset + (m / plane.columns) * plane.perLine +
                                        m % plane.columns);
    }

  private:
    static constexpr std::size_t maxTouched = std::size_t{1} << 16;
    std::vector<std::uint64_t> base_;
    std::vector<std::uint64_t> slice_;
    const Plane* plane_ = nullptr;
    std::uint64_t sliceFrom_ = 0;
    std::vector<std::uint32_t> touched_;
    bool spilled_ = false;
    bool logging_ = false;
    bool changed_ = false;
};

// A picture as far as the first piece's decode has read it: the frame, every scan met (a later
// scan's tables are the earlier ones as its DHT segments changed them) and the coefficient bits.
struct Picture {
    Frame frame;
    std::deque<Scan> scans;
    Coded coded;
};

// More bits than this and a progressive picture is not decoded (no join): 4 MiB of them.
constexpr std::uint64_t maxCodedBlocks = std::uint64_t{1} << 19;
constexpr unsigned maxScans = 256;

// The file's pieces as one stream of bytes: the offsets are the file's own; `splits` (ascending)
// move the rest of the file `gaps` bytes further into the evidence.
class Stream {
  public:
    Stream(EvidenceReader& evidence, std::uint64_t H)
        : window_(evidence, 65536), size_(evidence.size()), H_(H) {}

    void setPieces(const std::vector<std::pair<std::uint64_t, std::uint64_t>>& moves) {
        moves_ = moves;
        spanSize_ = 0;
    }
    // Keeps the evidence bytes [from, to) at hand apart from the window: a search's trials all
    // read the end of the piece before the split there, and the next piece far on.
    void keep(EvidenceReader& evidence, std::uint64_t from, std::uint64_t to) {
        to = std::min(to, size_);
        from = std::min(from, to);
        kept_.resize(static_cast<std::size_t>(to - from));
        evidence.readAt(static_cast<std::int64_t>(from), kept_.data(), kept_.size());
        keptFrom_ = from;
        spanSize_ = 0;
    }
    // The byte at file offset `at`; false past the evidence. A decode reads on byte after byte:
    // the run of the file's bytes that the last one came from answers most of them.
    bool byte(std::uint64_t at, unsigned char& out) {
        if (at - spanFrom_ < spanSize_) {
            out = span_[at - spanFrom_];
            return true;
        }
        return seek(at, out);
    }

  private:
    bool seek(std::uint64_t at, unsigned char& out) {
        spanSize_ = 0;
        std::uint64_t physical = H_ + at;
        std::uint64_t pieceEnd = ~std::uint64_t{0};
        for (const auto& [split, gap] : moves_) {
            if (at >= split) {
                physical = H_ + at + gap;
            } else {
                pieceEnd = std::min(pieceEnd, split);
            }
        }
        const unsigned char* from = nullptr;
        std::uint64_t run = 0;
        if (physical >= keptFrom_ && physical - keptFrom_ < kept_.size()) {
            from = kept_.data() + (physical - keptFrom_);
            run = kept_.size() - (physical - keptFrom_);
        } else {
            if (physical >= size_ || (run = window_.load(physical)) == 0) {
                return false;
            }
            from = window_.at(physical);
        }
        span_ = from;
        spanFrom_ = at;
        spanSize_ = std::min(run, pieceEnd - at);
        out = *from;
        return true;
    }

    BlockWindow window_;
    std::uint64_t size_;
    std::uint64_t H_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> moves_; // split, gap from the first piece
    std::vector<unsigned char> kept_;
    std::uint64_t keptFrom_ = 0;
    // Bytes [spanFrom_, spanFrom_ + spanSize_) of the file lie at span_, in one piece.
    const unsigned char* span_ = nullptr;
    std::uint64_t spanFrom_ = 0;
    std::uint64_t spanSize_ = 0;
};

enum class Outcome { Failed, Ended };

// Decodes the scans' entropy-coded data from `state` on, and (progressive) the segments between
// scans, to EOI; `record` (when given) gets the state at the start of every MCU and at the
// marker after each scan, and the picture the scans met and the coefficient bits as each scan
// began. On Ended, `state.at` is just past EOI; on Failed, where it failed.
class Decoder {
  public:
    Decoder(Picture& picture, Stream& stream) : picture_(picture), frame_(picture.frame), stream_(stream) {}

    // A progressive scan's EOB runs code thousands of blocks in a few bytes: its MCUs count as
    // work too, a byte each (a first scan's EOB run one in all), and a run stops (failed) past
    // `mcuLimit` of them.
    Outcome run(State& state, std::uint64_t& work, std::vector<State>* record,
                std::uint64_t mcuLimit = ~std::uint64_t{0}) {
        state_ = state;
        ok_ = true;
        scan_ = &picture_.scans[state_.scan];
        const std::uint64_t begin = state_.at;
        std::uint64_t every = 1;
        std::uint64_t counted = 0;
        std::uint64_t decoded = 0;
        Outcome outcome = Outcome::Failed;
        for (;;) {
            if (!state_.headers) {
                while (state_.mcu < scan_->mcus) {
                    if (record != nullptr && counted++ % every == 0) {
                        keep(*record, every);
                    }
                    if (scan_->restartInterval != 0 && state_.mcu != 0 &&
                        state_.mcu % scan_->restartInterval == 0) {
                        // Between intervals: the padding bits are ones, then RSTm in sequence.
                        if (!restart()) {
                            break;
                        }
                    }
                    if (state_.endOfBands > 0 && scan_->ss != 0 && scan_->ah == 0) {
                        // Blocks of an EOB run, up to the scan's or the interval's end, at once.
                        std::uint64_t end = scan_->mcus;
                        if (scan_->restartInterval != 0) {
                            end = std::min(end, (state_.mcu / scan_->restartInterval + 1) *
                                                    scan_->restartInterval);
                        }
                        const std::uint64_t n = std::min<std::uint64_t>(state_.endOfBands, end - state_.mcu);
                        state_.endOfBands -= static_cast<std::uint32_t>(n);
                        state_.mcu += n;
                        ++decoded;
                        continue;
                    }
                    if (frame_.progressive ? ++decoded > mcuLimit || !progressiveMcu() : !mcu()) {
                        break;
                    }
                    ++state_.mcu;
                }
                if (!ok_ || state_.mcu < scan_->mcus || state_.endOfBands != 0 || !padding()) {
                    break;
                }
                if (!frame_.progressive) {
                    outcome = eoi();
                    break;
                }
                state_.headers = true;
                if (record != nullptr) {
                    decoded += picture_.coded.snapshot() / 8;
                    record->push_back(state_);
                }
            }
            const int next = headers(record != nullptr);
            if (next != 1) {
                outcome = next == 0 ? Outcome::Ended : Outcome::Failed;
                break;
            }
        }
        work += state_.at - begin + decoded;
        state = state_;
        return outcome;
    }

  private:
    // Keeps the state in `record`, every other one once it holds as many as it may.
    void keep(std::vector<State>& record, std::uint64_t& every) {
        if (record.size() == maxStates) {
            std::size_t kept = 0;
            for (std::size_t i = 0; i < record.size(); i += 2) {
                record[kept++] = record[i];
            }
            record.resize(kept);
            every *= 2;
        }
        record.push_back(state_);
    }
    // After the last MCU: EOI (after any fill bytes).
    Outcome eoi() {
        unsigned char b = 0;
        if (!stream_.byte(state_.at, b) || b != 0xFF) {
            return Outcome::Failed;
        }
        std::uint64_t at = state_.at + 1;
        while (stream_.byte(at, b) && b == 0xFF) {
            ++at;
        }
        if (b != 0xD9) {
            return Outcome::Failed;
        }
        state_.at = at + 1;
        return Outcome::Ended;
    }
    // The segments after a progressive scan: tables, restart interval, anything skipped by its
    // length, up to the next scan's header (1) or EOI (0); -1 for anything else.
    int headers(bool recording) {
        for (int segments = 0; segments < 64; ++segments) {
            unsigned char b = 0;
            std::uint64_t at = state_.at;
            if (!stream_.byte(at, b) || b != 0xFF) {
                return -1;
            }
            while (stream_.byte(at + 1, b) && b == 0xFF) {
                ++at;
            }
            const unsigned code = b;
            if (code == 0xD9) {
                state_.at = at + 2;
                return 0;
            }
            unsigned char length[2] = {};
            if (!stream_.byte(at + 2, length[0]) || !stream_.byte(at + 3, length[1]) || be16(length) < 2) {
                return -1;
            }
            const std::size_t size = be16(length) - 2u;
            const bool parsed = code == 0xC4 || code == 0xDD || code == 0xDA;
            if (!parsed && code != 0xDB && code != 0xFE && (code < 0xE0 || code > 0xEF)) {
                return -1;
            }
            if (parsed) {
                body_.resize(size);
                for (std::size_t i = 0; i < size; ++i) {
                    if (!stream_.byte(at + 4 + i, body_[i])) {
                        return -1;
                    }
                }
                if (scan_ != &current_) {
                    current_ = *scan_;
                    scan_ = &current_;
                }
            }
            state_.at = at + 4 + size;
            if (code == 0xC4 && !defineTables(current_, body_.data(), size)) {
                return -1;
            }
            if (code == 0xDD) {
                if (size < 2) {
                    return -1;
                }
                current_.restartInterval = be16(body_.data());
            }
            if (code == 0xDA) {
                if (state_.scan + 1 >= maxScans || !setScan(current_, frame_, body_.data(), size)) {
                    return -1;
                }
                current_.dataStart = state_.at;
                ++state_.scan;
                state_.headers = false;
                state_.mcu = 0;
                state_.nextRestart = 0;
                state_.endOfBands = 0;
                state_.bits = 0;
                state_.bitCount = 0;
                state_.atMarker = false;
                if (recording) {
                    picture_.scans.push_back(current_);
                    scan_ = &picture_.scans.back();
                }
                return 1;
            }
        }
        return -1;
    }
    // Fetches whole bytes of data (FF 00 is one FF) until 57 bits are at hand or a marker stands
    // next.
    void fill() {
        while (state_.bitCount <= 56 && !state_.atMarker) {
            unsigned char b = 0;
            if (!stream_.byte(state_.at, b)) {
                state_.atMarker = true; // the evidence ends: nothing more to fetch
                return;
            }
            if (b == 0xFF) {
                unsigned char next = 0;
                if (!stream_.byte(state_.at + 1, next) || next != 0x00) {
                    state_.atMarker = true;
                    return;
                }
                state_.at += 2;
            } else {
                state_.at += 1;
            }
            state_.bits = (state_.bits << 8) | b;
            state_.bitCount += 8;
        }
    }
    int fail() {
        ok_ = false;
        return 0;
    }
    int decode(const Huffman& t) {
        if (state_.bitCount < 16) {
            fill();
        }
        if (state_.bitCount >= Huffman::fastBits) {
            const auto prefix = static_cast<unsigned>((state_.bits >> (state_.bitCount - Huffman::fastBits)) &
                                                      ((1u << Huffman::fastBits) - 1));
            if (t.fastLength[prefix] != 0) {
                state_.bitCount -= t.fastLength[prefix];
                return t.fastValue[prefix];
            }
        }
        for (int length = 1; length <= 16 && length <= state_.bitCount; ++length) {
            const auto code = static_cast<std::int32_t>((state_.bits >> (state_.bitCount - length)) &
                                                        ((std::uint64_t{1} << length) - 1));
            if (code <= t.maxCode[static_cast<std::size_t>(length)]) {
                state_.bitCount -= length;
                return t.values[static_cast<std::size_t>(t.valueIndex[static_cast<std::size_t>(length)] +
                                                         code - t.minCode[static_cast<std::size_t>(length)])];
            }
        }
        return fail(); // no code, or a marker (or the evidence's end) where data must be
    }
    void skipBits(int n) {
        if (state_.bitCount < n) {
            fill();
        }
        if (state_.bitCount < n) {
            fail();
            return;
        }
        state_.bitCount -= n;
    }
    std::uint32_t bits(int n) {
        skipBits(n);
        if (!ok_ || n == 0) {
            return 0;
        }
        return static_cast<std::uint32_t>((state_.bits >> state_.bitCount) & ((std::uint64_t{1} << n) - 1));
    }
    bool mcu() {
        for (const unsigned owner : scan_->blockOwner) {
            const Component& c = scan_->components[owner];
            const int size = decode(scan_->dcTables[c.dc]);
            if (!ok_ || size > 11) {
                return false;
            }
            skipBits(size);
            for (int k = 1; k < 64 && ok_;) {
                const int rs = decode(scan_->acTables[c.ac]);
                const int run = rs >> 4;
                const int s = rs & 15;
                if (s == 0) {
                    if (run != 15) {
                        break;
                    }
                    k += 16;
                    continue;
                }
                k += run;
                if (k > 63 || s > 10) {
                    return false;
                }
                skipBits(s);
                ++k;
            }
            if (!ok_) {
                return false;
            }
        }
        return true;
    }
    // One MCU of a progressive scan: DC differences or their next bits, or a band of one
    // block's AC coefficients (after an EOB run, none) or their corrections.
    bool progressiveMcu() {
        const Scan& scan = *scan_;
        if (scan.ss == 0) {
            for (const unsigned owner : scan.blockOwner) {
                if (scan.ah != 0) {
                    skipBits(1);
                } else {
                    const int size = decode(scan.dcTables[scan.components[owner].dc]);
                    if (!ok_ || size > 11) {
                        return false;
                    }
                    skipBits(size);
                }
            }
            return ok_;
        }
        if (scan.ah == 0 && state_.endOfBands > 0) {
            --state_.endOfBands;
            return true;
        }
        const Component& c = scan.components.front();
        const Huffman& table = scan.acTables[c.ac];
        const std::size_t block = Coded::index(frame_.planes[c.index], state_.mcu);
        std::uint64_t coded = picture_.coded.words[block];
        const std::uint64_t before = coded;
        unsigned k = scan.ss;
        if (scan.ah == 0) {
            for (; k <= scan.se && ok_; ++k) {
                const int rs = decode(table);
                const unsigned run = static_cast<unsigned>(rs) >> 4;
                const int s = rs & 15;
                if (s == 0) {
                    if (run != 15) {
                        state_.endOfBands = (1u << run) + bits(static_cast<int>(run)) - 1;
                        break;
                    }
                    k += 15;
                    continue;
                }
                k += run;
                if (k > scan.se || s > 10) {
                    return false;
                }
                skipBits(s);
                coded |= std::uint64_t{1} << k;
            }
        } else {
            if (state_.endOfBands == 0) {
                for (; k <= scan.se && ok_; ++k) {
                    const int rs = decode(table);
                    int run = rs >> 4;
                    const int s = rs & 15;
                    if (s > 1) {
                        return false;
                    }
                    if (s == 0 && run != 15) {
                        state_.endOfBands = (1u << run) + bits(run);
                        break;
                    }
                    skipBits(s); // the new coefficient's sign
                    // Past `run` zero coefficients (each non-zero one passed gets a correction
                    // bit) to where the new one stands.
                    for (; k <= scan.se && ok_; ++k) {
                        if ((coded >> k) & 1) {
                            skipBits(1);
                        } else if (--run < 0) {
                            break;
                        }
                    }
                    if (s != 0) {
                        if (k > scan.se) {
                            return false;
                        }
                        coded |= std::uint64_t{1} << k;
                    }
                }
            }
            if (state_.endOfBands > 0) {
                for (; k <= scan.se && ok_; ++k) {
                    if ((coded >> k) & 1) {
                        skipBits(1);
                    }
                }
                --state_.endOfBands;
            }
        }
        if (!ok_) {
            return false;
        }
        if (coded != before) {
            picture_.coded.set(block, coded);
        }
        return true;
    }
    // The bits left of the last byte are ones, and no whole byte of data is left before the
    // marker that must follow.
    bool padding() {
        fill();
        const int partial = state_.bitCount % 8;
        const std::uint64_t mask = (std::uint64_t{1} << partial) - 1;
        // A shift of the whole 64-bit word is undefined; with no partial byte there is nothing to test.
        const int shift = state_.bitCount - partial;
        const std::uint64_t left = shift >= 64 ? 0 : state_.bits >> shift;
        const bool ones = (left & mask) == mask;
        const bool atMarker = state_.bitCount == partial && state_.atMarker;
        state_.bitCount = 0;
        state_.bits = 0;
        return ones && atMarker;
    }
    bool restart() {
        if (state_.endOfBands != 0 || !padding()) {
            return false;
        }
        unsigned char b = 0;
        unsigned char code = 0;
        if (!stream_.byte(state_.at, b) || b != 0xFF || !stream_.byte(state_.at + 1, code) ||
            code != 0xD0 + state_.nextRestart) {
            return false;
        }
        state_.at += 2;
        state_.atMarker = false;
        state_.nextRestart = (state_.nextRestart + 1) & 7;
        state_.restartEnd = state_.at;
        return true;
    }

    Picture& picture_;
    const Frame& frame_;
    Stream& stream_;
    const Scan* scan_ = nullptr;
    Scan current_;
    std::vector<unsigned char> body_;
    State state_;
    bool ok_ = true;
};

// The tables, frame and first scan header of a baseline or progressive JPEG at H, read from the
// first piece.
// `read` gives the file's bytes from an offset, `size` of them at most; `last` gets the offset
// of the last segment whose header was read, where the walk stopped.
template <typename Read>
bool readHeaders(Read read, std::uint64_t size, Picture& picture, std::uint64_t& last) {
    Scan scan;
    Frame& frame = picture.frame;
    std::uint64_t at = 2;
    unsigned char soi[2] = {};
    last = 0;
    if (read(0, soi, 2) != 2 || be16(soi) != 0xFFD8) {
        return false;
    }
    for (int segments = 0; segments < 64; ++segments) {
        unsigned char head[4] = {};
        if (read(at, head, sizeof head) != sizeof head || head[0] != 0xFF) {
            return false;
        }
        last = at;
        const unsigned code = head[1];
        const std::uint64_t length = be16(head + 2);
        if (length < 2 || at + 2 + length > size) {
            return false;
        }
        std::vector<unsigned char> body(length - 2);
        if (read(at + 4, body.data(), body.size()) != body.size()) {
            return false;
        }
        at += 2 + length;
        if (code == 0xC4) {
            if (!defineTables(scan, body.data(), body.size())) {
                return false;
            }
        } else if (code == 0xC0 || code == 0xC1 || code == 0xC2) {
            if (!frame.components.empty() || !readFrame(frame, code, body.data(), body.size())) {
                return false;
            }
        } else if (code == 0xDD) {
            if (body.size() < 2) {
                return false;
            }
            scan.restartInterval = be16(&body[0]);
        } else if (code == 0xDA) {
            if (!setScan(scan, frame, body.data(), body.size())) {
                return false;
            }
            // Only a scan of every component, the whole picture in one scan, ends with EOI.
            if (!frame.progressive && scan.components.size() != frame.components.size()) {
                return false;
            }
            if (frame.progressive) {
                // A bit per coefficient of every block, within bounds.
                if (frame.blocks > maxCodedBlocks) {
                    return false;
                }
                picture.coded.resize(frame.blocks);
            }
            scan.dataStart = at;
            picture.scans.push_back(scan);
            return true;
        } else if ((code >= 0xC3 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC) ||
                   code == 0xD9) {
            return false; // lossless, hierarchical, arithmetic: not decoded here
        }
    }
    return false;
}

bool constantSector(EvidenceReader& evidence, std::uint64_t at) {
    unsigned char bytes[sector];
    evidence.readAt(static_cast<std::int64_t>(at), bytes, sizeof bytes);
    return std::all_of(bytes, bytes + sizeof bytes, [&](unsigned char b) { return b == bytes[0]; });
}

// Where a decode of a piece that begins at a given evidence offset must stop: the first FF there
// that is neither stuffing (FF 00) nor, in a scan with restart intervals, a restart marker; or
// the evidence's end. Only a stop at EOI lets a decode end there, and none lets it run past: the
// trials at a sector whose stop is another marker close by can be skipped unread. The offsets
// asked ascend through a search, so one pass over its window answers all of them.
class NextStop {
  public:
    NextStop(EvidenceReader& evidence, bool restarts) : evidence_(evidence), restarts_(restarts) {}

    // The stop at or after `from`, searched for up to `limit` bytes on: its offset and the code
    // after the FF (and any fill bytes), -1 for the evidence's end. False: none within the limit.
    // The bytes `sectors` holds are scanned where they serve.
    bool find(std::uint64_t from, std::uint64_t limit, const JoinSectors& sectors, std::uint64_t& at,
              int& code) {
        const std::uint64_t size = evidence_.size();
        if (found_ && at_ >= from) {
            at = at_;
            code = code_;
            return true;
        }
        found_ = false;
        std::uint64_t pos = std::max(from, scanned_);
        const std::uint64_t end = std::min(size, from + limit);
        while (pos < end) {
            std::size_t n = 0;
            const unsigned char* data = sectors.held(pos, n);
            if (data == nullptr || n < 64) {
                const auto want =
                    static_cast<std::size_t>(std::min<std::uint64_t>(block_.size(), size - pos));
                n = evidence_.readAt(static_cast<std::int64_t>(pos), block_.data(), want);
                data = block_.data();
            }
            if (n == 0) {
                break;
            }
            std::size_t i = 0;
            std::size_t next = n;
            while (i < n) {
                const auto* hit = static_cast<const unsigned char*>(std::memchr(data + i, 0xFF, n - i));
                if (hit == nullptr) {
                    break;
                }
                const auto f = static_cast<std::size_t>(hit - data);
                std::size_t j = f + 1;
                while (j < n && data[j] == 0xFF) {
                    ++j;
                }
                if (j >= n) {
                    if (pos + n >= size) {
                        break; // fill to the evidence's end
                    }
                    if (f == 0) {
                        scanned_ = pos;
                        return false; // a block of FF: no answer
                    }
                    next = f; // the code lies in the next block
                    break;
                }
                if (j == f + 1 && (data[j] == 0x00 || (restarts_ && data[j] >= 0xD0 && data[j] <= 0xD7))) {
                    i = j + 1;
                    continue;
                }
                found_ = true;
                at_ = pos + f;
                code_ = data[j];
                scanned_ = at_ + 1;
                at = at_;
                code = code_;
                return true;
            }
            pos += next;
            scanned_ = pos;
        }
        if (pos >= size) {
            found_ = true;
            at_ = size;
            code_ = -1;
            at = at_;
            code = code_;
            return true;
        }
        return false;
    }

  private:
    EvidenceReader& evidence_;
    bool restarts_;
    std::vector<unsigned char> block_ = std::vector<unsigned char>(65536);
    bool found_ = false;
    std::uint64_t at_ = 0;
    int code_ = -1;
    std::uint64_t scanned_ = 0; // no stop lies between the last offset asked and here
};

// The search for the pieces after the first: each break's splits and next pieces in turn, a
// join that decodes far past its split but breaks again searched on from there.
class JpegSearch {
  public:
    JpegSearch(EvidenceReader& evidence, std::uint64_t H, Picture& picture, const ClusterClaims& claims,
               JoinBudget& budget)
        : evidence_(evidence), H_(H), picture_(picture), progressive_(picture.frame.progressive),
          claims_(claims), budget_(budget), stream_(evidence, H), decoder_(picture, stream_) {}

    // Pieces joined so far (`moves`: where each later piece begins in the file, and how far
    // further on in the evidence), the MCU states of the last piece's decode and where it failed.
    // The end of the file (past EOI) and the moves when the pieces after it were found.
    using Moves = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
    std::optional<std::pair<std::uint64_t, Moves>> next(const Moves& moves, const std::vector<State>& states,
                                                        const State& failed) {
        byConstant_ = false;
        auto found = search(moves, states, failed, true);
        // A progressive scan of a flat picture may well hold sectors of zeros: the split is
        // sought again from the failure when one taken for the gap's start led nowhere.
        if (!found && progressive_ && byConstant_ && !budget_.spent()) {
            found = search(moves, states, failed, false);
        }
        return found;
    }

  private:
    std::optional<std::pair<std::uint64_t, Moves>>
    search(const Moves& moves, const std::vector<State>& states, const State& failed, bool constants) {
        const std::uint64_t gap = moves.empty() ? 0 : moves.back().second;
        const std::uint64_t pieceStart =
            moves.empty() ? picture_.scans.front().dataStart : moves.back().first;
        // The scan the break fell in (or the last one met before it, when it fell between scans).
        const Scan& scan = picture_.scans[std::min<std::size_t>(failed.scan, picture_.scans.size() - 1)];
        // The split lies at a sector start before the failure, no later than the first sector
        // that another file claims or that holds one byte over and over (no entropy-coded data
        // does).
        std::uint64_t lastSplit = (failed.at + sector) / sector * sector;
        bool foreign = false;
        // A progressive picture's flat stretches may code as a sector of zeros in any scan:
        // only those of the scan the break fell in are looked at.
        std::uint64_t lookFrom = pieceStart;
        if (progressive_) {
            for (auto st = states.rbegin(); st != states.rend() && st->pending() == failed.pending(); ++st) {
                lookFrom = std::max(pieceStart, st->at);
            }
        }
        for (std::uint64_t s = (lookFrom + sector - 1) / sector * sector; s < lastSplit; s += sector) {
            if (claims_.taken(static_cast<std::int64_t>(H_ + s + gap))) {
                lastSplit = s;
                foreign = true;
                break;
            }
            if (constants && constantSector(evidence_, H_ + s + gap)) {
                lastSplit = s;
                foreign = true;
                byConstant_ = true;
                break;
            }
        }
        // Every MCU decoded from the file's own bytes, and only what follows them is not EOI
        // (another scan, segments): the picture is whole, however it ends.
        if (!progressive_ && moves.empty() && failed.mcu == scan.mcus && !foreign) {
            return std::nullopt;
        }
        // The splits tried, the latest first, each with the last MCU state that read nothing at
        // or past it.
        // A restart marker met in sequence after the right number of MCUs is the file's own: the
        // split lies past the last one.
        const std::uint64_t proven = std::max(pieceStart, failed.restartEnd == 0 ? 0 : failed.restartEnd - 1);
        std::vector<std::pair<std::uint64_t, State>> splits;
        for (std::uint64_t s = lastSplit; s > proven && splits.size() < FragmentJoin::splitsTried;
             s -= sector) {
            auto from = std::upper_bound(states.begin(), states.end(), s,
                                         [](std::uint64_t at, const State& st) { return at < st.at; });
            // A progressive decode resumes only in the scan it broke in (or at the marker before
            // it): the coefficient bits are kept as that scan began.
            if (from == states.begin() || (progressive_ && std::prev(from)->pending() != failed.pending())) {
                break;
            }
            splits.emplace_back(s, *std::prev(from));
        }
        if (splits.empty()) {
            return std::nullopt;
        }
        // Each sector after the earliest split in turn as the next piece's first, nearest first.
        const std::uint64_t size = evidence_.size();
        const std::uint64_t earliest = H_ + splits.back().first + gap;
        const std::uint64_t last = H_ + lastSplit + gap + FragmentJoin::maxTrialGap;
        // What the trials read of this piece: from the earliest state they resume to the last split.
        const std::uint64_t resumeFrom =
            std::min_element(splits.begin(), splits.end(), [](const auto& a, const auto& b) {
                return a.second.at < b.second.at;
            })->second.at;
        stream_.keep(evidence_, H_ + resumeFrom + gap, H_ + lastSplit + gap);
        // A split just after an FF makes the next piece's first byte a marker's code (EOI cut
        // in two): the tests of the next piece's bytes alone do not hold for it.
        stream_.setPieces(moves);
        // So does a split inside the segments between two progressive scans.
        std::vector<bool> ffBefore;
        std::uint64_t firstMcu = ~std::uint64_t{0};
        for (const auto& split : splits) {
            unsigned char b = 0;
            ffBefore.push_back((stream_.byte(split.first - 1, b) && b == 0xFF) || split.second.headers);
            firstMcu = std::min(firstMcu, resumeMcu(split.second));
        }
        const bool anyFfBefore = std::find(ffBefore.begin(), ffBefore.end(), true) != ffBefore.end();
        if (progressive_) {
            const bool band = !failed.headers && scan.ss != 0;
            picture_.coded.prepare(band ? &picture_.frame.planes[scan.components.front().index] : nullptr,
                                   firstMcu, band ? std::min(failed.mcu + 1, scan.mcus) : 0);
        }
        JoinSectors sectors(evidence_);
        NextStop stops(evidence_, scan.restartInterval != 0);
        for (std::uint64_t c = earliest + sector; c < size && c <= last; c += sector) {
            std::size_t n = 0;
            const unsigned char* bytes = sectors.at(c, n);
            int marker = -1;
            const bool data = scanData(bytes, n, marker, scan, constants);
            if (!budget_.spend(sector) || (!data && !anyFfBefore) ||
                claims_.taken(static_cast<std::int64_t>(c))) {
                if (budget_.spent()) {
                    return std::nullopt;
                }
                continue;
            }
            // A decode from c ends only at an EOI, and breaks again far enough on to seek a
            // third piece only when no other marker stops it first.
            std::uint64_t stopAt = 0;
            int stopCode = -1;
            // (A progressive picture's decode goes on past the segments between scans.)
            const bool stopKnown =
                !progressive_ && stops.find(c, FragmentJoin::maxGap, sectors, stopAt, stopCode);
            const bool mayEnd = !stopKnown || stopCode == 0xD9;
            const bool mayBreakFar = !stopKnown || stopAt - c > farPastJoin;
            // With restart markers, the first marker of the next piece must be the restart
            // marker a split's decode expects (or the one after it, when the expected one was
            // still in this piece), or EOI: a sector inside another picture coded with the same
            // tables fails this at a glance, where decoding it would run on to its next marker.
            if (scan.restartInterval != 0 && marker < 0) {
                marker = firstMarker(c + sector - 1);
            }
            for (std::size_t i = 0; i < splits.size(); ++i) {
                const auto& [s, resume] = splits[i];
                const bool third = !progressive_ &&
                                   static_cast<int>(moves.size()) + 2 < FragmentJoin::maxPieces &&
                                   thirdSearches_ < thirdSearchesMax;
                if (!ffBefore[i] && (!data || (!mayEnd && !(third && mayBreakFar)))) {
                    continue;
                }
                if (!ffBefore[i] && marker >= 0 && marker != 0xD9 && !(progressive_ && segment(marker)) &&
                    (marker < 0xD0 || marker > 0xD7 ||
                     (static_cast<unsigned>(marker - 0xD0) != resume.nextRestart &&
                      static_cast<unsigned>(marker - 0xD0) != ((resume.nextRestart + 1) & 7)))) {
                    continue;
                }
                if (H_ + s + gap >= c || c - (H_ + s + gap) > FragmentJoin::maxTrialGap) {
                    continue;
                }
                Moves joined = moves;
                joined.emplace_back(s, c - (H_ + s));
                stream_.setPieces(joined);
                State trial = resume;
                if (progressive_) {
                    picture_.coded.resume(resumeMcu(resume));
                }
                std::uint64_t spent = 0;
                Outcome outcome = decoder_.run(trial, spent, nullptr, budget_.bytesLeft());
                if (!budget_.spend(spent, 1)) {
                    return std::nullopt;
                }
                if (outcome == Outcome::Ended) {
                    if (free(joined, trial.at)) {
                        return std::make_pair(trial.at, joined);
                    }
                    continue;
                }
                // Decoded well past the join, then broken again before the picture's last MCU:
                // the join holds, and a third piece may follow. (Every MCU and then no EOI is
                // another picture's data coded alike, not this one's.) Each such search scans a
                // whole window again, so a file gets a few.
                if (!progressive_ && static_cast<int>(joined.size()) + 1 < FragmentJoin::maxPieces &&
                    trial.at > s + farPastJoin && trial.mcu < scan.mcus &&
                    thirdSearches_ < thirdSearchesMax) {
                    ++thirdSearches_;
                    std::vector<State> further;
                    State again = resume;
                    spent = 0;
                    decoder_.run(again, spent, &further);
                    if (!budget_.spend(spent) || further.empty()) {
                        return std::nullopt;
                    }
                    if (auto found = next(joined, further, again)) {
                        return found;
                    }
                }
            }
        }
        return std::nullopt;
    }

    // Whether the sector at `bytes` (`n` real bytes, with JoinSectors::lookAhead more) can hold
    // this scan's data up to its end or to EOI: in entropy-coded data FF stands only before 00,
    // a restart marker (when the scan has them) or, after fill bytes, EOI; and a sector of one
    // byte over and over is none. `marker` gets the first marker's code when the sector has one.
    // Random data fails this in six sectors of seven, and most of another file's data too,
    // for the cost of a memchr.
    bool scanData(const unsigned char* bytes, std::size_t n, int& marker, const Scan& scan,
                  bool constants) const {
        marker = -1;
        if (constants && JoinSectors::constant(bytes, n)) {
            return false;
        }
        const std::size_t end = std::min<std::size_t>(n, sector);
        const unsigned char* p = bytes;
        while ((p = static_cast<const unsigned char*>(
                    std::memchr(p, 0xFF, end - static_cast<std::size_t>(p - bytes)))) != nullptr) {
            std::size_t at = static_cast<std::size_t>(p - bytes) + 1;
            if (at >= n) {
                return true; // the evidence ends
            }
            if (bytes[at] == 0x00) {
                p = bytes + at + 1;
                if (p >= bytes + end) {
                    return true;
                }
                continue;
            }
            while (at < n && bytes[at] == 0xFF) {
                ++at;
            }
            if (at >= n) {
                return true; // fill bytes to the end of what is at hand
            }
            const unsigned char code = bytes[at];
            const bool filled = at > static_cast<std::size_t>(p - bytes) + 1;
            if (marker < 0) {
                marker = code;
            }
            if (code == 0xD9) {
                return true; // EOI: what follows is no longer the file's
            }
            if (progressive_ && segment(code)) {
                return true; // the next scan's header: its data is another scan's
            }
            if (filled || scan.restartInterval == 0 || code < 0xD0 || code > 0xD7) {
                return false;
            }
            p = bytes + at + 1;
            if (p >= bytes + end) {
                return true;
            }
        }
        return true;
    }

    // The code of the first marker (FF then neither 00 nor FF) in the 64 KiB of evidence from
    // `at`, or -1 for none.
    int firstMarker(std::uint64_t at) {
        unsigned char block[4096];
        for (std::uint64_t done = 0; done < 65536; done += sizeof block - 1) {
            const std::size_t n = evidence_.readAt(static_cast<std::int64_t>(at + done), block, sizeof block);
            for (std::size_t i = 0; i + 1 < n; ++i) {
                if (block[i] == 0xFF && block[i + 1] != 0x00 && block[i + 1] != 0xFF) {
                    return block[i + 1];
                }
            }
            if (n < sizeof block) {
                break;
            }
        }
        return -1;
    }

    // A marker of a segment that may stand between two progressive scans.
    static bool segment(int code) {
        return code == 0xC4 || code == 0xDA || code == 0xDB || code == 0xDD || code == 0xFE ||
               (code >= 0xE0 && code <= 0xEF);
    }
    // The MCU of its scan a state resumes at, as the coefficient bits go: a state between scans
    // begins the next.
    static std::uint64_t resumeMcu(const State& state) { return state.headers ? 0 : state.mcu; }

    // No other file claims a sector of the pieces after the first, up to `end`.
    bool free(const Moves& moves, std::uint64_t end) const {
        for (std::size_t i = 0; i < moves.size(); ++i) {
            const std::uint64_t to = i + 1 < moves.size() ? moves[i + 1].first : end;
            for (std::uint64_t at = moves[i].first; at < to; at += sector) {
                if (claims_.taken(static_cast<std::int64_t>(H_ + at + moves[i].second))) {
                    return false;
                }
            }
        }
        return true;
    }

    // How far a decode must run past a join, in bytes, before a break after it is taken for the
    // next one: random data fails to decode long before.
    static constexpr std::uint64_t farPastJoin = 8 * sector;
    static constexpr int thirdSearchesMax = 4;
    int thirdSearches_ = 0;
    bool byConstant_ = false;

    EvidenceReader& evidence_;
    std::uint64_t H_;
    Picture& picture_;
    bool progressive_;
    const ClusterClaims& claims_;
    JoinBudget& budget_;
    Stream stream_;
    Decoder decoder_;
};

} // namespace

namespace {

using Moves = JpegSearch::Moves;

std::vector<Piece> toPieces(std::uint64_t start, std::uint64_t end, const Moves& moves) {
    std::vector<Piece> pieces{Piece{static_cast<std::int64_t>(start), moves.front().first}};
    for (std::size_t i = 0; i < moves.size(); ++i) {
        const std::uint64_t to = i + 1 < moves.size() ? moves[i + 1].first : end;
        pieces.push_back(
            Piece{static_cast<std::int64_t>(start + moves[i].first + moves[i].second), to - moves[i].first});
    }
    return pieces;
}

// A JPEG whose break falls in its segments before the first scan (a large EXIF block): the
// length of the segment the walk stopped in tells where the next marker stands in the file, so
// a piece that goes on from a split in that segment holds a marker exactly that far into it.
// The join holds when the segments read on through it to a scan whose data decodes to EOI
// (breaking again far on: a third piece sought as after any break).
std::optional<std::vector<Piece>> headerJoin(EvidenceReader& evidence, std::uint64_t H, std::uint64_t segment,
                                             const ClusterClaims& claims, JoinBudget& budget) {
    unsigned char head[4] = {};
    if (evidence.readAt(static_cast<std::int64_t>(H + segment), head, sizeof head) != sizeof head) {
        return std::nullopt;
    }
    const std::uint64_t next = segment + 2 + be16(head + 2); // where the next marker (or data) stands
    std::vector<std::uint64_t> splits;
    for (std::uint64_t s = next / sector * sector;
         s > segment + 4 && splits.size() < FragmentJoin::splitsTried; s -= sector) {
        splits.push_back(s);
    }
    if (splits.empty()) {
        return std::nullopt;
    }
    const std::uint64_t size = evidence.size();
    Stream stream(evidence, H);
    JoinSectors sectors(evidence);
    for (std::uint64_t c = H + splits.back() + sector;
         c < size && c <= H + splits.front() + FragmentJoin::maxTrialGap; c += sector) {
        if (!budget.spend(sector)) {
            return std::nullopt;
        }
        if (claims.taken(static_cast<std::int64_t>(c))) {
            continue;
        }
        std::size_t n = 0;
        const unsigned char* bytes = sectors.at(c, n);
        for (const std::uint64_t s : splits) {
            const std::uint64_t marker = next - s; // into the next piece
            if (H + s >= c) {
                continue;
            }
            unsigned char two[2] = {};
            if (marker + 1 < n) {
                two[0] = bytes[marker];
                two[1] = bytes[marker + 1];
            } else {
                evidence.readAt(static_cast<std::int64_t>(c + marker), two, 2);
            }
            // (After a scan's header its data follows, no marker.)
            if (head[1] != 0xDA && (two[0] != 0xFF || two[1] < 0xC0 || two[1] == 0xFF)) {
                continue;
            }
            const Moves moves{{s, c - (H + s)}};
            stream.setPieces(moves);
            Picture picture;
            std::uint64_t last = 0;
            const auto read = [&](std::uint64_t at, unsigned char* out, std::size_t count) {
                std::size_t i = 0;
                while (i < count && stream.byte(at + i, out[i])) {
                    ++i;
                }
                return i;
            };
            if (!budget.spend(0, 1)) {
                return std::nullopt;
            }
            if (!readHeaders(read, ~std::uint64_t{0}, picture, last)) {
                continue;
            }
            if (!budget.spend(picture.coded.words.size())) {
                return std::nullopt;
            }
            Decoder decoder(picture, stream);
            std::vector<State> states;
            State state;
            state.at = picture.scans.front().dataStart;
            std::uint64_t work = 0;
            const Outcome outcome = decoder.run(state, work, &states, budget.bytesLeft());
            if (!budget.spend(work)) {
                return std::nullopt;
            }
            if (outcome == Outcome::Ended) {
                bool free = true;
                for (std::uint64_t at = c; at < c + (state.at - s) && free; at += sector) {
                    free = !claims.taken(static_cast<std::int64_t>(at));
                }
                if (free) {
                    return toPieces(H, state.at, moves);
                }
                continue;
            }
            // Decoded well past the join, then broken again: a third piece.
            if (!picture.frame.progressive && !states.empty() && state.at > s + 8 * sector) {
                JpegSearch search(evidence, H, picture, claims, budget);
                if (const auto found = search.next(moves, states, state)) {
                    return toPieces(H, found->first, found->second);
                }
            }
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::vector<Piece>> FragmentJoin::jpeg(EvidenceReader& evidence, std::int64_t H,
                                                     const ClusterClaims& claims, JoinBudget& budget) {
    const std::uint64_t size = evidence.size();
    const auto start = static_cast<std::uint64_t>(H);
    if (H < 0 || start >= size) {
        return std::nullopt;
    }
    Picture picture;
    std::uint64_t last = 0;
    const auto read = [&](std::uint64_t at, unsigned char* out, std::size_t n) {
        return evidence.readAt(static_cast<std::int64_t>(start + at), out, n);
    };
    if (!readHeaders(read, size - start, picture, last)) {
        return last == 0 ? std::nullopt : headerJoin(evidence, start, last, claims, budget);
    }
    // (A progressive picture's coefficient bits cost their clearing.)
    if (!budget.spend(picture.coded.words.size())) {
        return std::nullopt;
    }
    JpegSearch search(evidence, start, picture, claims, budget);
    Stream stream(evidence, start);
    Decoder decoder(picture, stream);
    std::vector<State> states;
    State state;
    state.at = picture.scans.front().dataStart;
    std::uint64_t work = 0;
    const bool whole = decoder.run(state, work, &states, budget.bytesLeft()) == Outcome::Ended;
    if (whole) {
        // A progressive decode's cost is the MCUs more than the bytes (EOB runs): it draws on
        // the allowance even when the picture proves whole, so that many do not stall a run.
        if (picture.frame.progressive && !budget.spend(work)) {
            return std::nullopt;
        }
        return std::vector<Piece>{Piece{H, state.at}}; // decoded to its EOI as it lies
    }
    if (!budget.spend(work)) {
        return std::nullopt;
    }
    const auto found = states.empty() ? std::nullopt : search.next({}, states, state);
    if (!found) {
        // Broken at once, or the sector after the scan's header another file's or one byte over
        // and over: perhaps broken in that header, read from other bytes.
        const std::uint64_t data = picture.scans.front().dataStart;
        const std::uint64_t after = start + (data + sector - 1) / sector * sector;
        if (!budget.spent() &&
            (state.at < data + 2 * sector || claims.taken(static_cast<std::int64_t>(after)) ||
             (after + sector <= size && constantSector(evidence, after)))) {
            return headerJoin(evidence, start, last, claims, budget);
        }
        return std::nullopt;
    }
    return toPieces(start, found->first, found->second);
}

} // namespace morrow
