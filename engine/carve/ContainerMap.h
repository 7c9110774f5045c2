#pragma once

#include "base/FileType.h"
#include "output/CarvedFile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace morrow {

// The files an exact-ends run will carve of the kinds that hold others (movies, archives,
// documents, layered and tiled pictures), measured before the passes, with the stretches each
// one's own structure points at (its members, chunks, streams, strips and thumbnails). A picture
// that starts in one of those stretches is one of that file's frames, members or thumbnails,
// whichever pass reaches it first; a file that merely lies inside a container's extent is not.
//
// Memory: 24 bytes per file and per stretch, whatever the files claim, and at most maxStretches
// stretches; names are made again when asked for.
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
    // Records a file as its kind's pass will carve it, with the stretches of the evidence its
    // structure points at (in any order; they may overlap). Files come in any order.
    void add(const CarvedFile& file, const std::string& extension, std::vector<ByteRun> stretches = {});
    // Ends the recording: sorts what was added so that the questions below can be answered.
    void seal();
    bool empty() const { return kinds_.empty(); }

    // A file of another kind than `type` whose structure points at the `length` bytes at
    // `offset` (one of its stretches holds them, past its own first byte): a file there is that
    // file's bytes. Else null: a file that runs out of the stretch it starts in is no member of it.
    const Container* holding(std::int64_t offset, FileTypeId type, std::uint64_t length = 1) const;
    // A file of another kind than `type` whose extent holds `offset` past its own first byte,
    // pointed at or not: no other file is joined with those bytes. Else null.
    const Container* covering(std::int64_t offset, FileTypeId type) const;
    const std::string& extension(const Container& c) const { return extensions_[c.extension]; }

    // Stretches kept in all; those of files added past it are dropped, so that what starts in
    // them is carved as a file of its own.
    static constexpr std::size_t maxStretches = std::size_t{1} << 20;

  private:
    struct Stretch {
        std::int64_t begin = 0;
        std::int64_t end = 0;
        std::uint32_t file = 0; // index into the kind's files, in the order they were added
    };
    struct Kind {
        FileTypeId type = 0;
        std::vector<Container> files;      // by begin once sealed
        std::vector<std::uint32_t> widest; // widest[i]: the file among files[0..i] that ends last
        std::vector<Stretch> stretches;    // by begin once sealed
        std::vector<std::uint32_t> widestStretch;
    };
    std::vector<Kind> kinds_;
    std::vector<std::string> extensions_;
    std::size_t stretchCount_ = 0;
};

} // namespace morrow
