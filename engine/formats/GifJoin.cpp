// GIF's proof of a join (GIF89a, sections 15, 20, 22 and appendix F): across the join the image
// data's sub-blocks must chain on, its LZW codes must each name an entry the table has (or the
// next), and at the block terminator the codes must have made exactly the frame's width times
// height pixels; then the blocks after it must run, every image checked alike, to the trailer.
#include "formats/FragmentJoin.h"

#include "base/Limits.h"
#include "evidence/EvidenceReader.h"
#include "formats/BlockWindow.h"
#include "formats/GifLzw.h"
#include "formats/JoinSectors.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>

namespace morrow {

namespace {

constexpr std::uint64_t sector = limits::sectorSize;
// States kept from the first piece's walk (one at each image sub-block), the latest ones.
constexpr std::size_t statesKept = 192;

std::uint64_t colourTable(unsigned char packed) {
    return (packed & 0x80) != 0 ? 3ULL << ((packed & 0x07) + 1) : 0;
}

// Where a walk stands: at a block introducer, or at a sub-block of an image's data.
struct State {
    std::uint64_t at = 0; // from H
    bool inImage = false;
    unsigned left = 0; // data bytes left of the sub-block `at` is in (0: at a sub-block's length)
    GifLzw lzw;
};

// The file's bytes from its pieces, as in the JPEG join: offsets are the file's own.
class Stream {
  public:
    Stream(EvidenceReader& evidence, std::uint64_t H)
        : window_(evidence, 65536), size_(evidence.size()), H_(H) {}
    void setMove(std::uint64_t split, std::uint64_t gap) {
        split_ = split;
        gap_ = gap;
    }
    // Keeps the evidence bytes [from, to) at hand apart from the window: every trial reads the
    // end of the first piece, then the next piece far on, and one window would be read again
    // for each.
    void keep(EvidenceReader& evidence, std::uint64_t from, std::uint64_t to) {
        to = std::min(to, size_);
        from = std::min(from, to);
        kept_.resize(static_cast<std::size_t>(to - from));
        evidence.readAt(static_cast<std::int64_t>(from), kept_.data(), kept_.size());
        keptFrom_ = from;
    }
    // Reads the `n` evidence bytes at `from` from `data` (a search's block, valid until the next
    // call) rather than the window.
    void borrow(const unsigned char* data, std::uint64_t from, std::size_t n) {
        borrowed_ = data;
        borrowedFrom_ = from;
        borrowedSize_ = n;
    }
    bool byte(std::uint64_t at, unsigned char& out) {
        const std::uint64_t physical = H_ + at + (at >= split_ ? gap_ : 0);
        if (physical >= keptFrom_ && physical - keptFrom_ < kept_.size()) {
            out = kept_[static_cast<std::size_t>(physical - keptFrom_)];
            return true;
        }
        if (physical >= borrowedFrom_ && physical - borrowedFrom_ < borrowedSize_) {
            out = borrowed_[physical - borrowedFrom_];
            return true;
        }
        if (physical >= size_ || window_.load(physical) == 0) {
            return false;
        }
        out = *window_.at(physical);
        return true;
    }

  private:
    BlockWindow window_;
    std::uint64_t size_;
    std::uint64_t H_;
    std::uint64_t split_ = ~std::uint64_t{0};
    std::uint64_t gap_ = 0;
    std::vector<unsigned char> kept_;
    std::uint64_t keptFrom_ = 0;
    const unsigned char* borrowed_ = nullptr;
    std::uint64_t borrowedFrom_ = 0;
    std::size_t borrowedSize_ = 0;
};

enum class Outcome { Failed, Ended };

// Walks blocks from `state` to the trailer (state.at then past it) or to where they fail.
// `record` gets the state at every image sub-block, the latest `statesKept` of them.
Outcome walk(Stream& stream, State& state, std::uint64_t& work, std::deque<State>* record,
             std::uint64_t limit) {
    const std::uint64_t begin = state.at;
    auto done = [&](Outcome outcome) {
        work += state.at > begin ? state.at - begin : 0;
        return outcome;
    };
    unsigned char b = 0;
    while (state.at - begin < limit) {
        if (state.inImage && state.left != 0) {
            // Within a sub-block: a walk held to a limit may stop (and go on) between any two
            // bytes of the data.
            if (!stream.byte(state.at, b) || !state.lzw.feed(b)) {
                return done(Outcome::Failed);
            }
            state.at += 1;
            state.left -= 1;
            continue;
        }
        if (state.inImage) {
            if (record != nullptr) {
                if (record->size() == statesKept) {
                    record->pop_front();
                }
                record->push_back(state);
            }
            if (!stream.byte(state.at, b)) {
                return done(Outcome::Failed);
            }
            if (b == 0) {
                // The block terminator: the frame has all its pixels.
                if (state.lzw.pixels != state.lzw.target) {
                    return done(Outcome::Failed);
                }
                state.inImage = false;
                state.at += 1;
                continue;
            }
            state.left = b;
            state.at += 1;
            continue;
        }
        if (!stream.byte(state.at, b)) {
            return done(Outcome::Failed);
        }
        if (b == 0x3B) {
            state.at += 1;
            return done(Outcome::Ended);
        }
        if (b == 0x21) {
            // An extension: its label, then sub-blocks to the terminator.
            std::uint64_t at = state.at + 2;
            for (;;) {
                if (!stream.byte(at, b) || at - begin > limit) {
                    state.at = at;
                    return done(Outcome::Failed);
                }
                at += 1 + std::uint64_t{b};
                if (b == 0) {
                    break;
                }
            }
            state.at = at;
            continue;
        }
        if (b != 0x2C) {
            return done(Outcome::Failed);
        }
        unsigned char descriptor[10] = {};
        for (unsigned i = 0; i < 10; ++i) {
            if (!stream.byte(state.at + i, descriptor[i])) {
                return done(Outcome::Failed);
            }
        }
        const std::uint64_t codeSizeAt = state.at + 10 + colourTable(descriptor[9]);
        unsigned char codeSize = 0;
        const std::uint64_t pixels = std::uint64_t{le16(descriptor + 5)} * le16(descriptor + 7);
        if (!stream.byte(codeSizeAt, codeSize) || codeSize < 2 || codeSize > 8 || pixels == 0) {
            state.at = codeSizeAt;
            return done(Outcome::Failed);
        }
        state.lzw.start(codeSize, pixels);
        state.inImage = true;
        state.at = codeSizeAt + 1;
    }
    return done(Outcome::Failed);
}

bool constantSector(EvidenceReader& evidence, std::uint64_t at) {
    unsigned char bytes[sector];
    evidence.readAt(static_cast<std::int64_t>(at), bytes, sizeof bytes);
    return std::all_of(bytes, bytes + sizeof bytes, [&](unsigned char b) { return b == bytes[0]; });
}

// A join whose split falls inside the global colour table (`tableEnd` its end): each sector after
// the header as the next piece's first, and each of the table's sector starts as the split; the
// walk from the table's end must run, every frame's pixels made, to the trailer.
std::optional<std::vector<Piece>> tableJoin(EvidenceReader& evidence, std::uint64_t start,
                                            std::uint64_t tableEnd, const ClusterClaims& claims,
                                            JoinBudget& budget) {
    const std::uint64_t size = evidence.size();
    std::vector<std::uint64_t> splits;
    for (std::uint64_t s = tableEnd / sector * sector;
         s >= sector && splits.size() < FragmentJoin::splitsTried; s -= sector) {
        splits.push_back(s);
    }
    if (splits.empty() || claims.taken(static_cast<std::int64_t>(start + splits.front()))) {
        return std::nullopt;
    }
    Stream stream(evidence, start);
    JoinSectors sectors(evidence);
    State trial;
    for (std::uint64_t c = start + splits.back() + sector;
         c < size && c <= start + splits.front() + FragmentJoin::maxTrialGap; c += sector) {
        std::size_t n = 0;
        const unsigned char* bytes = sectors.at(c, n);
        if (!budget.spend(sector) || JoinSectors::constant(bytes, n) ||
            claims.taken(static_cast<std::int64_t>(c))) {
            if (budget.spent()) {
                return std::nullopt;
            }
            continue;
        }
        stream.borrow(bytes, c, n);
        for (const std::uint64_t s : splits) {
            // The block after the table must open with an introducer where the table ends.
            const std::uint64_t gap = c - (start + s);
            if (start + s >= c || gap > FragmentJoin::maxTrialGap || tableEnd - s >= n ||
                (bytes[tableEnd - s] != 0x21 && bytes[tableEnd - s] != 0x2C)) {
                continue;
            }
            stream.setMove(s, gap);
            trial = State{};
            trial.at = tableEnd;
            std::uint64_t spent = 0;
            const Outcome outcome = walk(stream, trial, spent, nullptr, budget.bytesLeft());
            if (!budget.spend(spent, 1)) {
                return std::nullopt;
            }
            if (outcome != Outcome::Ended) {
                continue;
            }
            // The rest of another picture that starts just where this one would (its own table
            // past the split, then its frames) walks as well: a piece whose file begins there is
            // that file's.
            unsigned char origin[4] = {};
            evidence.readAt(static_cast<std::int64_t>(c - s), origin, sizeof origin);
            if (std::memcmp(origin, "GIF8", 4) == 0) {
                continue;
            }
            bool free = true;
            for (std::uint64_t at = c; at < start + trial.at + gap; at += sector) {
                free = free && !claims.taken(static_cast<std::int64_t>(at));
            }
            if (free) {
                return std::vector<Piece>{Piece{static_cast<std::int64_t>(start), s},
                                          Piece{static_cast<std::int64_t>(c), trial.at - s}};
            }
        }
    }
    return std::nullopt;
}
} // namespace

std::optional<std::vector<Piece>> FragmentJoin::gif(EvidenceReader& evidence, std::int64_t H,
                                                    const ClusterClaims& claims, JoinBudget& budget) {
    const std::uint64_t size = evidence.size();
    const auto start = static_cast<std::uint64_t>(H);
    unsigned char header[13] = {};
    evidence.readAt(H, header, sizeof header);
    if (H < 0 || start >= size ||
        (std::memcmp(header, "GIF87a", 6) != 0 && std::memcmp(header, "GIF89a", 6) != 0)) {
        return std::nullopt;
    }
    Stream stream(evidence, start);
    State state;
    state.at = 13 + colourTable(header[10]);
    std::deque<State> states;
    std::uint64_t work = 0;
    const std::uint64_t limit = std::min(budget.bytesLeft(), size - start);
    if (walk(stream, state, work, &states, limit) == Outcome::Ended) {
        return std::vector<Piece>{Piece{H, state.at}}; // every frame's pixels, then the trailer
    }
    if (!budget.spend(work)) {
        return std::nullopt;
    }
    // Broken inside its colour table, the blocks after it read from other bytes: the split is
    // one of the table's sector starts, and the blocks that follow it in the next piece must
    // walk to the trailer.
    const std::uint64_t tableEnd = 13 + colourTable(header[10]);
    if (tableEnd > sector && state.at < (tableEnd + sector) / sector * sector) {
        if (auto joined = tableJoin(evidence, start, tableEnd, claims, budget)) {
            return joined;
        }
    }
    if (states.empty()) {
        return std::nullopt;
    }
    // Splits back from where the walk failed, as for JPEG.
    std::uint64_t lastSplit = (state.at + sector) / sector * sector;
    for (std::uint64_t s = (states.front().at + sector - 1) / sector * sector; s < lastSplit; s += sector) {
        if (claims.taken(static_cast<std::int64_t>(start + s)) || constantSector(evidence, start + s)) {
            lastSplit = s;
            break;
        }
    }
    std::vector<std::pair<std::uint64_t, const State*>> splits;
    for (std::uint64_t s = lastSplit; s > 0 && splits.size() < splitsTried; s -= sector) {
        auto from = std::upper_bound(states.begin(), states.end(), s,
                                     [](std::uint64_t at, const State& st) { return at < st.at; });
        if (from == states.begin()) {
            break;
        }
        splits.emplace_back(s, &*std::prev(from));
    }
    if (splits.empty()) {
        return std::nullopt;
    }
    const std::uint64_t earliest = start + splits.back().first;
    // Trials resume from the earliest split's state (the states ascend as the splits descend).
    stream.keep(evidence, start + splits.back().second->at, start + lastSplit);
    // Each split's walk from its state to the split itself reads only the first piece: walked
    // once here, each trial goes on from the split. A split whose image data the first piece's
    // own bytes fail before is none.
    std::vector<State> atSplit(splits.size());
    std::vector<bool> exact(splits.size());
    std::vector<bool> broken(splits.size());
    stream.setMove(~std::uint64_t{0}, 0);
    for (std::size_t i = 0; i < splits.size(); ++i) {
        atSplit[i].at = splits[i].second->at;
        atSplit[i].inImage = splits[i].second->inImage;
        atSplit[i].left = splits[i].second->left;
        atSplit[i].lzw.resumeFrom(splits[i].second->lzw);
        std::uint64_t spent = 0;
        walk(stream, atSplit[i], spent, nullptr, splits[i].first - atSplit[i].at);
        exact[i] = atSplit[i].at == splits[i].first;
        broken[i] = atSplit[i].at < splits[i].first && atSplit[i].inImage;
        if (!budget.spend(spent)) {
            return std::nullopt;
        }
    }
    JoinSectors sectors(evidence);
    State trial;
    for (std::uint64_t c = earliest + sector; c < size && c <= start + lastSplit + maxTrialGap; c += sector) {
        std::size_t n = 0;
        const unsigned char* bytes = sectors.at(c, n);
        if (!budget.spend(sector) || JoinSectors::constant(bytes, n) ||
            claims.taken(static_cast<std::int64_t>(c))) {
            if (budget.spent()) {
                return std::nullopt;
            }
            continue;
        }
        stream.borrow(bytes, c, n);
        for (std::size_t i = 0; i < splits.size(); ++i) {
            const std::uint64_t s = splits[i].first;
            if (start + s >= c || c - (start + s) > maxTrialGap) {
                continue;
            }
            const std::uint64_t gap = c - (start + s);
            stream.setMove(s, gap);
            if (broken[i]) {
                continue;
            }
            // From the split when the walk stopped there (within image data), else from the
            // state before it, as the walk may not stop inside other blocks.
            const State& from = exact[i] ? atSplit[i] : *splits[i].second;
            trial.at = from.at;
            trial.inImage = from.inImage;
            trial.left = from.left;
            trial.lzw.resumeFrom(from.lzw);
            std::uint64_t spent = 0;
            const Outcome outcome = walk(stream, trial, spent, nullptr, budget.bytesLeft());
            if (!budget.spend(spent, 1)) {
                return std::nullopt;
            }
            // The join proves itself only when the walk went on past it to the trailer.
            if (outcome == Outcome::Ended && trial.at > s) {
                bool free = true;
                for (std::uint64_t at = c; at < start + trial.at + gap; at += sector) {
                    free = free && !claims.taken(static_cast<std::int64_t>(at));
                }
                if (free) {
                    return std::vector<Piece>{Piece{H, s}, Piece{static_cast<std::int64_t>(c), trial.at - s}};
                }
            }
        }
    }
    return std::nullopt;
}

} // namespace morrow
