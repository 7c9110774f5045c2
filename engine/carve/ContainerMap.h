#pragma once

#include "base/FileType.h"
#include "output/CarvedFile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace morrow {

// The files an exact-ends run will carve of the kinds that hold others (movies, archives,
// documents, layered and tiled pictures), measured before the passes, so that a picture that is
// one of their frames, members or thumbnails is known as theirs whichever pass reaches it first.
//
// Memory: 24 bytes per file, whatever the file claims; names are made again when asked for.
class ContainerMap {
  public:
    struct Container {
        std::int64_t begin = 0;
        std::int64_t end = 0; // one past its last byte
        std::int32_t number = 0;
        FileTypeId type = 0;
        std::uint16_t extension = 0; // index into extension()
    };

    void clear();
    // Records a file as its kind's pass will carve it. Files come in any order.
    void add(const CarvedFile& file, const std::string& extension);
    // Ends the recording: sorts what was added so that holding() can answer.
    void seal();
    bool empty() const { return kinds_.empty(); }

    // A file of another kind than `type` that holds `offset` past its own first byte, or null.
    const Container* holding(std::int64_t offset, FileTypeId type) const;
    const std::string& extension(const Container& c) const { return extensions_[c.extension]; }

  private:
    struct Kind {
        FileTypeId type = 0;
        std::vector<Container> files;      // by begin
        std::vector<std::uint32_t> widest; // widest[i]: the file among files[0..i] that ends last
    };
    std::vector<Kind> kinds_;
    std::vector<std::string> extensions_;
};

} // namespace morrow
