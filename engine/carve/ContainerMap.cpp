#include "carve/ContainerMap.h"

#include <algorithm>

namespace morrow {

void ContainerMap::clear() {
    kinds_.clear();
    extensions_.clear();
}

void ContainerMap::add(const CarvedFile& file, const std::string& extension) {
    auto kind =
        std::find_if(kinds_.begin(), kinds_.end(), [&](const Kind& k) { return k.type == file.type; });
    if (kind == kinds_.end()) {
        kinds_.push_back(Kind{file.type, {}, {}});
        kind = kinds_.end() - 1;
    }
    auto ext = std::find(extensions_.begin(), extensions_.end(), extension);
    if (ext == extensions_.end()) {
        extensions_.push_back(extension);
        ext = extensions_.end() - 1;
    }
    const std::int64_t begin = file.offset();
    kind->files.push_back(Container{begin, begin + static_cast<std::int64_t>(file.length()),
                                    static_cast<std::int32_t>(file.number), file.type,
                                    static_cast<std::uint16_t>(ext - extensions_.begin())});
}

void ContainerMap::seal() {
    for (Kind& kind : kinds_) {
        std::stable_sort(kind.files.begin(), kind.files.end(),
                         [](const Container& a, const Container& b) { return a.begin < b.begin; });
        kind.widest.resize(kind.files.size());
        for (std::uint32_t i = 0; i < kind.files.size(); ++i) {
            kind.widest[i] =
                i > 0 && kind.files[kind.widest[i - 1]].end >= kind.files[i].end ? kind.widest[i - 1] : i;
        }
    }
}

const ContainerMap::Container* ContainerMap::holding(std::int64_t offset, FileTypeId type) const {
    for (const Kind& kind : kinds_) {
        if (kind.type == type) {
            continue;
        }
        // The files that start before `offset`; the one of them that ends last holds it, if any does.
        const auto after = std::lower_bound(kind.files.begin(), kind.files.end(), offset,
                                            [](const Container& c, std::int64_t at) { return c.begin < at; });
        if (after == kind.files.begin()) {
            continue;
        }
        const Container& widest =
            kind.files[kind.widest[static_cast<std::size_t>(after - kind.files.begin()) - 1]];
        if (widest.end > offset) {
            return &widest;
        }
    }
    return nullptr;
}

} // namespace morrow
