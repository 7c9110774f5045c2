#include "volumes/AllocationMap.h"

#include <algorithm>
#include <bit>
#include <limits>

namespace morrow {

namespace {

constexpr std::uint64_t noUnit = std::numeric_limits<std::uint64_t>::max();

// The units of `unit` bytes that [0, span) takes, the last one maybe short.
std::uint64_t unitsIn(std::uint64_t span, std::uint64_t unit) {
    return span / unit + (span % unit != 0 ? 1 : 0);
}

std::uint64_t wordsFor(std::uint64_t span, std::uint64_t unit) {
    return unitsIn(span, unit) / 64 + (unitsIn(span, unit) % 64 != 0 ? 1 : 0);
}

void setBits(std::vector<std::uint64_t>& words, std::uint64_t from, std::uint64_t to) {
    while (from < to && from % 64 != 0) {
        words[from / 64] |= std::uint64_t{1} << (from % 64);
        ++from;
    }
    for (; from + 64 <= to; from += 64) {
        words[from / 64] = ~std::uint64_t{0};
    }
    for (; from < to; ++from) {
        words[from / 64] |= std::uint64_t{1} << (from % 64);
    }
}

// What a file system claims, blocks times block size: up to 96 bits, as high * 2^64 + low.
struct Claim {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
};

Claim claim(const FileSystemFound& found) {
    if (found.blockCount == 0) {
        return Claim{0, found.size};
    }
    const std::uint64_t lower = (found.blockCount & 0xffffffff) * found.blockSize;
    const std::uint64_t upper = (found.blockCount >> 32) * found.blockSize;
    Claim out;
    out.low = lower + (upper << 32);
    out.high = (upper >> 32) + (out.low < lower ? 1 : 0);
    return out;
}

} // namespace

std::string claimedBytes(const FileSystemFound& found) {
    const Claim value = claim(found);
    // Long division by ten over 32-bit limbs, most significant first.
    std::uint64_t limbs[4] = {value.high >> 32, value.high & 0xffffffff, value.low >> 32,
                              value.low & 0xffffffff};
    std::string digits;
    do {
        std::uint64_t rest = 0;
        for (std::uint64_t& limb : limbs) {
            const std::uint64_t current = (rest << 32) | limb;
            limb = current / 10;
            rest = current % 10;
        }
        digits.insert(digits.begin(), static_cast<char>('0' + rest));
    } while ((limbs[0] | limbs[1] | limbs[2] | limbs[3]) != 0);
    return digits;
}

bool claimsMoreThan(const FileSystemFound& found, std::uint64_t available) {
    const Claim value = claim(found);
    return value.high != 0 || value.low > available;
}

void AllocationMap::beginFileSystem(std::uint64_t begin, std::uint64_t end, std::uint32_t blockSize) {
    if (current_.open) {
        endFileSystem();
    }
    current_ = Current{};
    current_.open = true;
    current_.begin = begin;
    current_.end = std::max(begin, end);
    current_.blockSize = std::max<std::uint32_t>(blockSize, 1);
    current_.firstRun = allocated_.size();
    current_.streakUnit = noUnit;
}

std::uint64_t AllocationMap::endFileSystem() {
    const std::uint64_t unit = current_.isBitmap ? bitmaps_[current_.bitmap].unit : current_.blockSize;
    current_ = Current{};
    return unit;
}

void AllocationMap::addAllocated(std::uint64_t begin, std::uint64_t length) {
    if (length == 0) {
        return;
    }
    std::uint64_t end = begin > std::numeric_limits<std::uint64_t>::max() - length
                            ? std::numeric_limits<std::uint64_t>::max()
                            : begin + length;
    if (current_.open) {
        begin = std::max(begin, current_.begin);
        end = std::min(end, current_.end);
        if (begin >= end) {
            return;
        }
        if (current_.isBitmap) {
            markBitmap(bitmaps_[current_.bitmap], begin, end);
            return;
        }
        // Block walks come in order: a block that continues the last run extends it.
        if (allocated_.size() > current_.firstRun && allocated_.back().end == begin) {
            allocated_.back().end = end;
            return;
        }
        if (allocated_.size() >= maxRuns) {
            toBitmap();
            markBitmap(bitmaps_[current_.bitmap], begin, end);
            return;
        }
        allocated_.push_back(Run{begin, end});
        return;
    }
    if (!allocated_.empty() && allocated_.back().end == begin) {
        allocated_.back().end = end;
        return;
    }
    if (allocated_.size() >= maxRuns) {
        allocationLost_ = true; // no file system to hold it as a bitmap: carved
        return;
    }
    allocated_.push_back(Run{begin, end});
}

// The current file system's runs become a bitmap of its blocks, or of the smallest power-of-two
// multiple of them whose bitmap fits what remains of the bound on bitmap bytes.
void AllocationMap::toBitmap() {
    Bitmap bitmap;
    bitmap.begin = current_.begin;
    bitmap.end = current_.end;
    const std::uint64_t span = bitmap.end - bitmap.begin;
    const std::uint64_t budget = std::max<std::uint64_t>(
        bitmapBytes_ < maxBitmapBytes ? maxBitmapBytes - bitmapBytes_ : 0, sizeof(std::uint64_t));
    std::uint64_t unit = current_.blockSize;
    while (wordsFor(span, unit) * sizeof(std::uint64_t) > budget && unit < span &&
           unit <= std::numeric_limits<std::uint64_t>::max() / 2) {
        unit *= 2;
    }
    bitmap.unit = unit;
    bitmap.words.assign(wordsFor(span, unit), 0);
    bitmapBytes_ += bitmap.words.size() * sizeof(std::uint64_t);
    bitmaps_.push_back(std::move(bitmap));
    current_.isBitmap = true;
    current_.bitmap = bitmaps_.size() - 1;
    current_.streakUnit = noUnit;
    for (std::size_t i = current_.firstRun; i < allocated_.size(); ++i) {
        markBitmap(bitmaps_[current_.bitmap], allocated_[i].begin, allocated_[i].end);
    }
    allocated_.resize(current_.firstRun);
}

// Sets the units [begin, end) covers whole. A unit it covers only in part is proven whole when
// the next range continues it from where the last one stopped (block walks come in order).
void AllocationMap::markBitmap(Bitmap& bitmap, std::uint64_t begin, std::uint64_t end) {
    const std::uint64_t unit = bitmap.unit;
    const std::uint64_t units = unitsIn(bitmap.end - bitmap.begin, unit);
    const auto unitEnd = [&](std::uint64_t u) {
        const std::uint64_t start = bitmap.begin + u * unit;
        return bitmap.end - start > unit ? start + unit : bitmap.end;
    };
    std::uint64_t first = (begin - bitmap.begin) / unit;
    const std::uint64_t firstStart = bitmap.begin + first * unit;
    if (begin != firstStart) {
        const std::uint64_t upto = std::min(unitEnd(first), end);
        if (current_.streakUnit == first && current_.streakCovered == begin - firstStart) {
            if (upto == unitEnd(first)) {
                bitmap.words[first / 64] |= std::uint64_t{1} << (first % 64);
                current_.streakUnit = noUnit;
            } else {
                current_.streakCovered = upto - firstStart;
            }
        }
        if (upto >= end) {
            return;
        }
        begin = upto;
        first += 1;
    }
    const std::uint64_t whole = end == bitmap.end ? units : (end - bitmap.begin) / unit;
    setBits(bitmap.words, first, whole);
    if (end != bitmap.end && (end - bitmap.begin) % unit != 0) {
        current_.streakUnit = whole;
        current_.streakCovered = end - (bitmap.begin + whole * unit);
    }
}

std::uint32_t AllocationMap::addOwner(FileOwner owner) {
    pathBytes_ += owner.path.size();
    owners_.push_back(std::move(owner));
    return static_cast<std::uint32_t>(owners_.size() - 1);
}

void AllocationMap::addOwned(std::uint64_t begin, std::uint64_t length, std::uint32_t owner) {
    if (length == 0 || owner >= owners_.size() ||
        begin > std::numeric_limits<std::uint64_t>::max() - length) {
        return;
    }
    if (!owned_.empty() && owned_.back().owner == owner && owned_.back().end == begin) {
        owned_.back().end += length;
        return;
    }
    if (owned_.size() >= maxOwnedRuns) {
        ownedCapped_ = true;
        return;
    }
    owned_.push_back(OwnedRun{begin, begin + length, owner});
}

void AllocationMap::seal() {
    if (current_.open) {
        endFileSystem();
    }
    std::sort(allocated_.begin(), allocated_.end(),
              [](const Run& a, const Run& b) { return a.begin < b.begin; });
    std::vector<Run> merged;
    for (const Run& run : allocated_) {
        if (!merged.empty() && run.begin <= merged.back().end) {
            merged.back().end = std::max(merged.back().end, run.end);
        } else {
            merged.push_back(run);
        }
    }
    allocated_ = std::move(merged);
    allocated_.shrink_to_fit();
    std::sort(bitmaps_.begin(), bitmaps_.end(),
              [](const Bitmap& a, const Bitmap& b) { return a.begin < b.begin; });
    bitmapReach_.clear();
    for (const Bitmap& bitmap : bitmaps_) {
        bitmapReach_.push_back(std::max(bitmapReach_.empty() ? 0 : bitmapReach_.back(), bitmap.end));
    }
    // Owned runs by start; where a deleted file's guessed clusters overlap a live file's, the
    // live one is asked first (owner() looks at every run that starts at or before an offset
    // only as far back as runs can reach, so overlaps are rare and short).
    std::stable_sort(owned_.begin(), owned_.end(), [&](const OwnedRun& a, const OwnedRun& b) {
        if (a.begin != b.begin) {
            return a.begin < b.begin;
        }
        return owners_[a.owner].nameAllocated && !owners_[b.owner].nameAllocated;
    });
}

bool AllocationMap::allocated(std::uint64_t offset) const {
    auto after = std::upper_bound(allocated_.begin(), allocated_.end(), offset,
                                  [](std::uint64_t at, const Run& r) { return at < r.begin; });
    if (after != allocated_.begin() && std::prev(after)->end > offset) {
        return true;
    }
    auto bitmapAfter = std::upper_bound(bitmaps_.begin(), bitmaps_.end(), offset,
                                        [](std::uint64_t at, const Bitmap& b) { return at < b.begin; });
    for (auto i = static_cast<std::size_t>(bitmapAfter - bitmaps_.begin());
         i > 0 && bitmapReach_[i - 1] > offset; --i) {
        const Bitmap& bitmap = bitmaps_[i - 1];
        if (offset < bitmap.end) {
            const std::uint64_t u = (offset - bitmap.begin) / bitmap.unit;
            if ((bitmap.words[u / 64] >> (u % 64) & 1) != 0) {
                return true;
            }
        }
    }
    return false;
}

const FileOwner* AllocationMap::owner(std::uint64_t offset) const {
    auto after = std::upper_bound(owned_.begin(), owned_.end(), offset,
                                  [](std::uint64_t at, const OwnedRun& r) { return at < r.begin; });
    // The runs that start at or before `offset`, nearest first; a few steps back cover the
    // overlaps of deleted files' guessed runs with others.
    const FileOwner* found = nullptr;
    for (int steps = 0; after != owned_.begin() && steps < 64; ++steps) {
        --after;
        if (after->end > offset) {
            const FileOwner& candidate = owners_[after->owner];
            if (candidate.nameAllocated) {
                return &candidate;
            }
            found = found != nullptr ? found : &candidate;
        }
    }
    return found;
}

std::uint64_t AllocationMap::allocatedBytes() const {
    std::uint64_t total = 0;
    for (const Run& run : allocated_) {
        total += run.end - run.begin;
    }
    for (const Bitmap& bitmap : bitmaps_) {
        const std::uint64_t units = unitsIn(bitmap.end - bitmap.begin, bitmap.unit);
        std::uint64_t set = 0;
        for (std::uint64_t word : bitmap.words) {
            set += static_cast<std::uint64_t>(std::popcount(word));
        }
        // Every unit is whole but the last, which ends where the file system does.
        const std::uint64_t last = units - 1;
        if (units > 0 && (bitmap.words[last / 64] >> (last % 64) & 1) != 0) {
            total += (set - 1) * bitmap.unit + (bitmap.end - (bitmap.begin + last * bitmap.unit));
        } else {
            total += set * bitmap.unit;
        }
    }
    return total;
}

std::uint64_t AllocationMap::memoryBytes() const {
    std::uint64_t total = allocated_.capacity() * sizeof(Run) + owned_.capacity() * sizeof(OwnedRun) +
                          owners_.capacity() * sizeof(FileOwner) + bitmapBytes_;
    for (const FileOwner& owner : owners_) {
        total += owner.path.capacity();
    }
    return total;
}

// The encoding: little-endian fixed-width fields, strings as a 32-bit length and their bytes.
//   "MAM1", flags (1 byte: allocation lost, owned capped)
//   runs:         count, then begin and end of each
//   bitmaps:      count, then begin, end, unit, word count and the words of each
//   owners:       count, then path, inode, flags (name, meta), the four times of each
//   owned runs:   count, then begin, end and owner (32 bits) of each
//   file systems: count, then kind, offset, size, block size (32 bits), block count of each
namespace {

constexpr std::string_view magic = "MAM1";

class Writer {
  public:
    void u8(std::uint8_t value) { out.push_back(static_cast<char>(value)); }
    void u32(std::uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            u8(static_cast<std::uint8_t>(value >> (8 * i)));
        }
    }
    void u64(std::uint64_t value) {
        for (int i = 0; i < 8; ++i) {
            u8(static_cast<std::uint8_t>(value >> (8 * i)));
        }
    }
    void text(const std::string& value) {
        u32(static_cast<std::uint32_t>(value.size()));
        out += value;
    }
    std::string out;
};

class Reader {
  public:
    explicit Reader(std::string_view in) : in_(in) {}
    bool u8(std::uint8_t& value) {
        if (in_.size() - at_ < 1) {
            return false;
        }
        value = static_cast<std::uint8_t>(in_[at_++]);
        return true;
    }
    bool u32(std::uint32_t& value) {
        std::uint64_t wide = 0;
        if (!little(4, wide)) {
            return false;
        }
        value = static_cast<std::uint32_t>(wide);
        return true;
    }
    bool u64(std::uint64_t& value) { return little(8, value); }
    bool i64(std::int64_t& value) {
        std::uint64_t raw = 0;
        if (!u64(raw)) {
            return false;
        }
        value = static_cast<std::int64_t>(raw);
        return true;
    }
    bool text(std::string& value) {
        std::uint32_t length = 0;
        if (!u32(length) || in_.size() - at_ < length) {
            return false;
        }
        value.assign(in_.substr(at_, length));
        at_ += length;
        return true;
    }
    // A count of items that each take at least `each` bytes: no more than the input still holds.
    bool count(std::uint64_t& value, std::size_t each, std::uint64_t bound) {
        return u64(value) && value <= (in_.size() - at_) / each && value <= bound;
    }
    bool done() const { return at_ == in_.size(); }

  private:
    bool little(int bytes, std::uint64_t& value) {
        if (in_.size() - at_ < static_cast<std::size_t>(bytes)) {
            return false;
        }
        value = 0;
        for (int i = 0; i < bytes; ++i) {
            value |= std::uint64_t{static_cast<std::uint8_t>(in_[at_ + i])} << (8 * i);
        }
        at_ += bytes;
        return true;
    }
    std::string_view in_;
    std::size_t at_ = 0;
};

} // namespace

std::string AllocationMap::encode() const {
    Writer w;
    w.out += magic;
    w.u8(static_cast<std::uint8_t>((allocationLost_ ? 1 : 0) | (ownedCapped_ ? 2 : 0)));
    w.u64(allocated_.size());
    for (const Run& run : allocated_) {
        w.u64(run.begin);
        w.u64(run.end);
    }
    w.u64(bitmaps_.size());
    for (const Bitmap& bitmap : bitmaps_) {
        w.u64(bitmap.begin);
        w.u64(bitmap.end);
        w.u64(bitmap.unit);
        w.u64(bitmap.words.size());
        for (std::uint64_t word : bitmap.words) {
            w.u64(word);
        }
    }
    w.u64(owners_.size());
    for (const FileOwner& owner : owners_) {
        w.text(owner.path);
        w.u64(owner.inode);
        w.u8(static_cast<std::uint8_t>((owner.nameAllocated ? 1 : 0) | (owner.metaAllocated ? 2 : 0)));
        for (std::int64_t time : {owner.modified, owner.accessed, owner.changed, owner.created}) {
            w.u64(static_cast<std::uint64_t>(time));
        }
    }
    w.u64(owned_.size());
    for (const OwnedRun& run : owned_) {
        w.u64(run.begin);
        w.u64(run.end);
        w.u32(run.owner);
    }
    w.u64(fileSystems_.size());
    for (const FileSystemFound& found : fileSystems_) {
        w.text(found.kind);
        w.u64(found.offset);
        w.u64(found.size);
        w.u32(found.blockSize);
        w.u64(found.blockCount);
    }
    return std::move(w.out);
}

std::optional<AllocationMap> AllocationMap::decode(std::string_view bytes) {
    if (bytes.substr(0, magic.size()) != magic) {
        return std::nullopt;
    }
    Reader r(bytes.substr(magic.size()));
    AllocationMap map;
    std::uint8_t flags = 0;
    std::uint64_t count = 0;
    if (!r.u8(flags) || flags > 3 || !r.count(count, 16, maxRuns)) {
        return std::nullopt;
    }
    map.allocationLost_ = (flags & 1) != 0;
    map.ownedCapped_ = (flags & 2) != 0;
    map.allocated_.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        Run run;
        if (!r.u64(run.begin) || !r.u64(run.end) || run.begin >= run.end) {
            return std::nullopt;
        }
        map.allocated_.push_back(run);
    }
    // Each bitmap holds at least a word, and all of them no more than the bound allows (one word
    // more each, as a file system past the bound still gets one).
    if (!r.count(count, 40, maxBitmapBytes / 8)) {
        return std::nullopt;
    }
    for (std::uint64_t i = 0; i < count; ++i) {
        Bitmap bitmap;
        std::uint64_t words = 0;
        if (!r.u64(bitmap.begin) || !r.u64(bitmap.end) || !r.u64(bitmap.unit) || bitmap.begin >= bitmap.end ||
            bitmap.unit == 0 || !r.count(words, 8, maxBitmapBytes / 8 + count) ||
            words != wordsFor(bitmap.end - bitmap.begin, bitmap.unit)) {
            return std::nullopt;
        }
        map.bitmapBytes_ += words * 8;
        if (map.bitmapBytes_ > maxBitmapBytes + 8 * count) {
            return std::nullopt;
        }
        bitmap.words.resize(words);
        for (std::uint64_t& word : bitmap.words) {
            r.u64(word); // the count was checked against what remains
        }
        // Bits past the last unit stand for nothing: cleared, so that no count takes them.
        const std::uint64_t units = unitsIn(bitmap.end - bitmap.begin, bitmap.unit);
        if (units % 64 != 0) {
            bitmap.words.back() &= (std::uint64_t{1} << (units % 64)) - 1;
        }
        map.bitmaps_.push_back(std::move(bitmap));
    }
    if (!r.count(count, 45, maxOwners)) {
        return std::nullopt;
    }
    map.owners_.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        FileOwner owner;
        std::uint8_t ownerFlags = 0;
        if (!r.text(owner.path) || !r.u64(owner.inode) || !r.u8(ownerFlags) || ownerFlags > 3 ||
            !r.i64(owner.modified) || !r.i64(owner.accessed) || !r.i64(owner.changed) ||
            !r.i64(owner.created)) {
            return std::nullopt;
        }
        owner.nameAllocated = (ownerFlags & 1) != 0;
        owner.metaAllocated = (ownerFlags & 2) != 0;
        map.pathBytes_ += owner.path.size();
        map.owners_.push_back(std::move(owner));
    }
    if (!r.count(count, 20, maxOwnedRuns)) {
        return std::nullopt;
    }
    map.owned_.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        OwnedRun run;
        if (!r.u64(run.begin) || !r.u64(run.end) || !r.u32(run.owner) || run.begin >= run.end ||
            run.owner >= map.owners_.size()) {
            return std::nullopt;
        }
        map.owned_.push_back(run);
    }
    if (!r.count(count, 32, std::numeric_limits<std::uint64_t>::max())) {
        return std::nullopt;
    }
    for (std::uint64_t i = 0; i < count; ++i) {
        FileSystemFound found;
        if (!r.text(found.kind) || !r.u64(found.offset) || !r.u64(found.size) || !r.u32(found.blockSize) ||
            !r.u64(found.blockCount)) {
            return std::nullopt;
        }
        map.fileSystems_.push_back(std::move(found));
    }
    if (!r.done()) {
        return std::nullopt;
    }
    map.seal();
    return map;
}

} // namespace morrow
