#include "carve/ContainerMap.h"

#include "base/Limits.h"

#include <algorithm>
#include <numeric>

namespace morrow {

namespace {

// Among `items` sorted by begin, with `widest` over them, the one that starts at or before
// `offset` (`strictly` before it) and ends last, when it ends past `offset`.
template <typename T>
const T* widestHolding(const std::vector<T>& items, const std::vector<std::uint32_t>& widest,
                       std::int64_t offset, bool strictly) {
    const auto after = strictly ? std::lower_bound(items.begin(), items.end(), offset,
                                                   [](const T& c, std::int64_t at) { return c.begin < at; })
                                : std::upper_bound(items.begin(), items.end(), offset,
                                                   [](std::int64_t at, const T& c) { return at < c.begin; });
    if (after == items.begin()) {
        return nullptr;
    }
    const T& best = items[widest[static_cast<std::size_t>(after - items.begin()) - 1]];
    return best.end > offset ? &best : nullptr;
}

template <typename T> std::vector<std::uint32_t> widestOf(const std::vector<T>& items) {
    std::vector<std::uint32_t> widest(items.size());
    for (std::uint32_t i = 0; i < items.size(); ++i) {
        widest[i] = i > 0 && items[widest[i - 1]].end >= items[i].end ? widest[i - 1] : i;
    }
    return widest;
}

} // namespace

void ContainerMap::clear() {
    kinds_.clear();
    extensions_.clear();
    stretchCount_ = 0;
}

void ContainerMap::add(const CarvedFile& file, const std::string& extension, std::vector<ByteRun> stretches) {
    auto kind =
        std::find_if(kinds_.begin(), kinds_.end(), [&](const Kind& k) { return k.type == file.type; });
    if (kind == kinds_.end()) {
        kinds_.push_back(Kind{file.type, {}, {}, {}, {}});
        kind = kinds_.end() - 1;
    }
    auto ext = std::find(extensions_.begin(), extensions_.end(), extension);
    if (ext == extensions_.end()) {
        extensions_.push_back(extension);
        ext = extensions_.end() - 1;
    }
    const std::int64_t begin = file.offset();
    const std::int64_t end = begin + static_cast<std::int64_t>(file.length());
    const auto index = static_cast<std::uint32_t>(kind->files.size());
    kind->files.push_back(Container{begin, end, static_cast<std::int32_t>(file.number), file.type,
                                    static_cast<std::uint16_t>(ext - extensions_.begin())});

    // Stretches held to the file's own bytes, in order, those less than a sector apart made one:
    // no other file starts between them (files start at sector starts), and a big movie's
    // thousands of chunks become a few stretches.
    std::sort(stretches.begin(), stretches.end(),
              [](const ByteRun& a, const ByteRun& b) { return a.offset < b.offset; });
    Stretch open{0, 0, index};
    bool any = false;
    auto close = [&] {
        if (any && stretchCount_ < maxStretches) {
            kind->stretches.push_back(open);
            ++stretchCount_;
        }
    };
    for (const ByteRun& run : stretches) {
        const std::int64_t from = std::max(run.offset, begin);
        const std::int64_t to =
            std::min(end, run.offset + static_cast<std::int64_t>(std::min<std::uint64_t>(
                                           run.length, static_cast<std::uint64_t>(end - begin))));
        if (to <= from) {
            continue;
        }
        if (any && from <= open.end + static_cast<std::int64_t>(limits::sectorSize)) {
            open.end = std::max(open.end, to);
            continue;
        }
        close();
        open = Stretch{from, to, index};
        any = true;
    }
    close();
}

void ContainerMap::seal() {
    for (Kind& kind : kinds_) {
        // The stretches name their files by the order they were added: sort the files by a
        // permutation and name them anew.
        std::vector<std::uint32_t> order(kind.files.size());
        std::iota(order.begin(), order.end(), 0U);
        std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            return kind.files[a].begin < kind.files[b].begin;
        });
        std::vector<std::uint32_t> placeOf(order.size());
        std::vector<Container> sorted(order.size());
        for (std::uint32_t i = 0; i < order.size(); ++i) {
            sorted[i] = kind.files[order[i]];
            placeOf[order[i]] = i;
        }
        kind.files = std::move(sorted);
        for (Stretch& s : kind.stretches) {
            s.file = placeOf[s.file];
        }
        std::stable_sort(kind.stretches.begin(), kind.stretches.end(),
                         [](const Stretch& a, const Stretch& b) { return a.begin < b.begin; });
        kind.widest = widestOf(kind.files);
        kind.widestStretch = widestOf(kind.stretches);
    }
}

const ContainerMap::Container* ContainerMap::holding(std::int64_t offset, FileTypeId type,
                                                     std::uint64_t length) const {
    for (const Kind& kind : kinds_) {
        if (kind.type == type) {
            continue;
        }
        // Stretches of one kind's files may nest (an archive inside a movie's chunk): the one that
        // ends last among those that start at or before `offset` holds it, if any does. Nested
        // stretches are met again by the files that hold them.
        const Stretch* stretch = widestHolding(kind.stretches, kind.widestStretch, offset, false);
        if (stretch != nullptr && kind.files[stretch->file].begin < offset &&
            length <= static_cast<std::uint64_t>(stretch->end - offset)) {
            return &kind.files[stretch->file];
        }
    }
    return nullptr;
}

const ContainerMap::Container* ContainerMap::covering(std::int64_t offset, FileTypeId type) const {
    for (const Kind& kind : kinds_) {
        if (kind.type == type) {
            continue;
        }
        // The files that start before `offset`; the one of them that ends last holds it, if any does.
        if (const Container* widest = widestHolding(kind.files, kind.widest, offset, true)) {
            return widest;
        }
    }
    return nullptr;
}

} // namespace morrow
