#include "volumes/FileSystemReader.h"

#include "evidence/EvidenceSource.h"

#include <tsk/libtsk.h>

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace morrow {

namespace {

// libtsk is loaded when a run first needs it, not linked: it brings some forty libraries with it
// (network and crypto ones among them, for images Morrow never asks it to open), which every
// run would otherwise map and pay for in memory.
struct Tsk {
    decltype(&tsk_img_open_external) imgOpenExternal = nullptr;
    decltype(&tsk_img_close) imgClose = nullptr;
    decltype(&tsk_vs_open) vsOpen = nullptr;
    decltype(&tsk_vs_part_get) vsPartGet = nullptr;
    decltype(&tsk_vs_close) vsClose = nullptr;
    decltype(&tsk_fs_open_vol) fsOpenVol = nullptr;
    decltype(&tsk_fs_open_img) fsOpenImg = nullptr;
    decltype(&tsk_fs_close) fsClose = nullptr;
    decltype(&tsk_fs_block_walk) fsBlockWalk = nullptr;
    decltype(&tsk_fs_dir_walk) fsDirWalk = nullptr;
    decltype(&tsk_fs_file_walk) fsFileWalk = nullptr;
    decltype(&tsk_fs_type_toname) fsTypeToName = nullptr;
    decltype(&tsk_error_get) errorGet = nullptr;
    decltype(&tsk_error_reset) errorReset = nullptr;
    decltype(&tsk_version_get_str) versionGetStr = nullptr;
    std::string failure; // why it could not be loaded
};

template <typename Function> bool bind(void* library, const char* name, Function& out, std::string& failure) {
    void* found = dlsym(library, name);
    if (found == nullptr) {
        failure = std::string(MORROW_LIBTSK_SONAME) + " has no " + name;
        return false;
    }
    std::memcpy(&out, &found, sizeof found);
    return true;
}

const Tsk& tsk() {
    static const Tsk loaded = [] {
        Tsk t;
        void* library = dlopen(MORROW_LIBTSK_SONAME, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            const char* why = dlerror();
            t.failure = why != nullptr ? why : MORROW_LIBTSK_SONAME " could not be loaded";
            return t;
        }
        std::string& f = t.failure;
        if (!(bind(library, "tsk_img_open_external", t.imgOpenExternal, f) &&
              bind(library, "tsk_img_close", t.imgClose, f) && bind(library, "tsk_vs_open", t.vsOpen, f) &&
              bind(library, "tsk_vs_part_get", t.vsPartGet, f) &&
              bind(library, "tsk_vs_close", t.vsClose, f) &&
              bind(library, "tsk_fs_open_vol", t.fsOpenVol, f) &&
              bind(library, "tsk_fs_open_img", t.fsOpenImg, f) &&
              bind(library, "tsk_fs_close", t.fsClose, f) &&
              bind(library, "tsk_fs_block_walk", t.fsBlockWalk, f) &&
              bind(library, "tsk_fs_dir_walk", t.fsDirWalk, f) &&
              bind(library, "tsk_fs_file_walk", t.fsFileWalk, f) &&
              bind(library, "tsk_fs_type_toname", t.fsTypeToName, f) &&
              bind(library, "tsk_error_get", t.errorGet, f) &&
              bind(library, "tsk_error_reset", t.errorReset, f) &&
              bind(library, "tsk_version_get_str", t.versionGetStr, f))) {
            return t;
        }
        return t;
    }();
    return loaded;
}

// An image libtsk reads through Morrow's evidence source. libtsk needs its image structure first.
struct ExternalImage {
    TSK_IMG_INFO info;
    EvidenceSource* source;
};

ssize_t readImage(TSK_IMG_INFO* img, TSK_OFF_T offset, char* buffer, size_t length) {
    auto* image = reinterpret_cast<ExternalImage*>(img);
    if (offset < 0) {
        return -1;
    }
    if (static_cast<std::uint64_t>(offset) >= image->source->size()) {
        return 0;
    }
    const std::size_t got = image->source->read(static_cast<std::uint64_t>(offset), buffer, length);
    return got == 0 && length > 0 ? -1 : static_cast<ssize_t>(got);
}

void closeImage(TSK_IMG_INFO*) {} // the source belongs to the run
void statImage(TSK_IMG_INFO*, FILE*) {}

std::string lastError() {
    const char* text = tsk().errorGet();
    std::string error = text != nullptr ? text : "unknown error";
    tsk().errorReset();
    while (!error.empty() && std::isspace(static_cast<unsigned char>(error.back()))) {
        error.pop_back();
    }
    return error;
}

// Bounds on what one file system may cost, whatever it claims. The file walks together visit
// at most a few times the blocks the evidence holds (a deleted file's guessed blocks may repeat a
// live one's), one file no more than the evidence holds, and the directory walk no more entries
// than the evidence has room for: a damaged file system cannot make the library loop.
constexpr std::uint64_t maxFileBlocks = 200'000'000;
constexpr std::uint64_t fileBlocksPerEvidenceBlock = 4;
constexpr std::uint64_t fileBlocksSlack = 1 << 20;
constexpr std::uint64_t bytesPerEntry = 16;
constexpr std::uint64_t entriesSlack = 1 << 16;
// Distinct partitions tried, whatever the table lists: the library spends some milliseconds on
// each looking for a file system (repeats of one already read cost nothing).
constexpr std::size_t maxPartitionsRead = 256;

struct Walk {
    TSK_FS_INFO* fs;
    AllocationMap& map;
    std::uint64_t heldBlocks = 0; // blocks of the file system the evidence holds
    std::uint64_t blockBudget = 0;
    std::uint64_t entryBudget = 0;
    std::uint32_t owner = 0;
    std::uint64_t blocks = 0;     // visited by the file walks, all files
    std::uint64_t fileBlocks = 0; // visited by the current file's walk
    std::uint64_t entries = 0;
    std::uint64_t filesCut = 0; // files whose walk visited more blocks than the evidence holds
    bool capped = false;        // entries past what the map records
    bool outOfWork = false;     // the walks' budget spent
};

TSK_WALK_RET_ENUM allocatedBlock(const TSK_FS_BLOCK* block, void* data) {
    auto* walk = static_cast<Walk*>(data);
    walk->map.addAllocated(static_cast<std::uint64_t>(walk->fs->offset) + block->addr * walk->fs->block_size,
                           walk->fs->block_size);
    return TSK_WALK_CONT;
}

TSK_WALK_RET_ENUM fileBlock(TSK_FS_FILE*, TSK_OFF_T, TSK_DADDR_T address, char*, size_t,
                            TSK_FS_BLOCK_FLAG_ENUM flags, void* data) {
    auto* walk = static_cast<Walk*>(data);
    if (++walk->blocks > walk->blockBudget) {
        walk->outOfWork = true;
        return TSK_WALK_STOP;
    }
    if (++walk->fileBlocks > walk->heldBlocks + 1) {
        ++walk->filesCut;
        return TSK_WALK_STOP;
    }
    if ((flags & (TSK_FS_BLOCK_FLAG_RES | TSK_FS_BLOCK_FLAG_SPARSE)) != 0) {
        return TSK_WALK_CONT; // held in the entry itself, or no block at all
    }
    walk->map.addOwned(static_cast<std::uint64_t>(walk->fs->offset) + address * walk->fs->block_size,
                       walk->fs->block_size, walk->owner);
    return TSK_WALK_CONT;
}

TSK_WALK_RET_ENUM directoryEntry(TSK_FS_FILE* file, const char* path, void* data) {
    auto* walk = static_cast<Walk*>(data);
    if (walk->capped || walk->outOfWork) {
        return TSK_WALK_STOP;
    }
    if (++walk->entries > walk->entryBudget) {
        walk->outOfWork = true;
        return TSK_WALK_STOP;
    }
    if (file->name == nullptr || file->meta == nullptr || file->meta->type != TSK_FS_META_TYPE_REG) {
        return TSK_WALK_CONT;
    }
    if (walk->map.ownersFull()) {
        walk->capped = true;
        return TSK_WALK_STOP;
    }
    FileOwner owner;
    owner.path = std::string("/") + (path != nullptr ? path : "") + file->name->name;
    owner.inode = file->meta->addr;
    owner.nameAllocated = (file->name->flags & TSK_FS_NAME_FLAG_ALLOC) != 0;
    owner.metaAllocated = (file->meta->flags & TSK_FS_META_FLAG_ALLOC) != 0;
    owner.modified = file->meta->mtime;
    owner.accessed = file->meta->atime;
    owner.changed = file->meta->ctime;
    owner.created = file->meta->crtime;
    walk->owner = walk->map.addOwner(std::move(owner));
    walk->fileBlocks = 0;
    // A deleted file's clusters are libtsk's best guess; a walk that fails leaves it without runs.
    // Sparse blocks come to the callback too (and are skipped there), so that a file claiming
    // an endless hole is counted against the budget rather than walked inside the library.
    if (tsk().fsFileWalk(file, TSK_FS_FILE_WALK_FLAG_AONLY, fileBlock, walk) != 0) {
        tsk().errorReset();
    }
    return walk->outOfWork ? TSK_WALK_STOP : TSK_WALK_CONT;
}

std::uint64_t saturatingProduct(std::uint64_t a, std::uint64_t b) {
    return b != 0 && a > std::numeric_limits<std::uint64_t>::max() / b
               ? std::numeric_limits<std::uint64_t>::max()
               : a * b;
}

// Numbers in order as "3..130" or "2, 5, 7..9".
std::string numberList(const std::vector<TSK_PNUM_T>& numbers) {
    std::string out;
    for (std::size_t i = 0; i < numbers.size();) {
        std::size_t j = i;
        while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) {
            ++j;
        }
        out += (out.empty() ? "" : ", ") + std::to_string(numbers[i]) +
               (j > i ? ".." + std::to_string(numbers[j]) : std::string());
        i = j + 1;
    }
    return out;
}

std::string upper(const char* text) {
    std::string out = text != nullptr ? text : "?";
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

void readFileSystem(TSK_FS_INFO* fs, std::uint64_t evidenceSize, AllocationMap& map, std::string& notes) {
    const auto offset = static_cast<std::uint64_t>(fs->offset);
    const std::uint64_t blockSize = fs->block_size;
    const std::uint64_t available = offset < evidenceSize ? evidenceSize - offset : 0;
    FileSystemFound found{upper(tsk().fsTypeToName(fs->ftype)), offset, 0, fs->block_size,
                          static_cast<std::uint64_t>(fs->block_count)};
    found.size = saturatingProduct(found.blockCount, blockSize);
    map.addFileSystem(found);
    const bool beyond = claimsMoreThan(found, available);
    if (beyond) {
        notes += "the file system at offset " + std::to_string(offset) + " claims " + claimedBytes(found) +
                 " bytes, more than the evidence's " + std::to_string(available) +
                 (offset == 0 ? "" : " from there") + "; read to the evidence's end\n";
    }
    // Whatever the file system claims, its walks go no further than the blocks the evidence holds
    // (the last one may be cut short by the evidence's end).
    const std::uint64_t held =
        blockSize == 0 ? 0 : available / blockSize + (available % blockSize != 0 ? 1 : 0);
    map.beginFileSystem(offset, offset + (beyond ? available : found.size), fs->block_size);
    Walk walk{fs, map};
    walk.heldBlocks = held;
    walk.blockBudget = std::min(maxFileBlocks, held * fileBlocksPerEvidenceBlock + fileBlocksSlack);
    walk.entryBudget = available / bytesPerEntry + entriesSlack;
    const TSK_DADDR_T last = std::min<TSK_DADDR_T>(fs->last_block, held == 0 ? 0 : held - 1);
    if (held > 0 && fs->first_block <= last &&
        tsk().fsBlockWalk(fs, fs->first_block, last,
                          static_cast<TSK_FS_BLOCK_WALK_FLAG_ENUM>(TSK_FS_BLOCK_WALK_FLAG_ALLOC |
                                                                   TSK_FS_BLOCK_WALK_FLAG_AONLY),
                          allocatedBlock, &walk) != 0) {
        notes += "the allocation of the file system at offset " + std::to_string(offset) +
                 " could not be read whole: " + lastError() + "\n";
    }
    const std::uint64_t unit = map.endFileSystem();
    if (unit > blockSize) {
        notes += "the allocation of the file system at offset " + std::to_string(offset) +
                 " is kept in units of " + std::to_string(unit) +
                 " bytes, each allocated only when all its blocks are; the rest of its space is of unknown "
                 "allocation and is carved\n";
    }
    if (tsk().fsDirWalk(fs, fs->root_inum,
                        static_cast<TSK_FS_DIR_WALK_FLAG_ENUM>(
                            TSK_FS_DIR_WALK_FLAG_ALLOC | TSK_FS_DIR_WALK_FLAG_UNALLOC |
                            TSK_FS_DIR_WALK_FLAG_RECURSE | TSK_FS_DIR_WALK_FLAG_NOORPHAN),
                        directoryEntry, &walk) != 0) {
        notes += "the directories of the file system at offset " + std::to_string(offset) +
                 " could not be read whole: " + lastError() + "\n";
    }
    if (walk.capped) {
        notes += "the file system at offset " + std::to_string(offset) +
                 " has more entries than Morrow records; the rest are not named\n";
    }
    if (walk.outOfWork) {
        notes += "the directories and files of the file system at offset " + std::to_string(offset) +
                 " claim more than the evidence can hold; the walk stopped, and the rest are not named\n";
    }
    if (walk.filesCut > 0) {
        const bool one = walk.filesCut == 1;
        notes += std::to_string(walk.filesCut) + (one ? " file" : " files") +
                 " of the file system at offset " + std::to_string(offset) + (one ? " claims" : " claim") +
                 " more blocks than the evidence holds; only the first blocks are named\n";
    }
}

} // namespace

bool FileSystemReader::builtIn() {
    return tsk().failure.empty();
}

std::string FileSystemReader::libraryVersion() {
    return builtIn() ? std::string(tsk().versionGetStr()) : std::string();
}

bool FileSystemReader::read(EvidenceSource& source, AllocationMap& map, std::string& notes) {
    if (!builtIn()) {
        notes += "The Sleuth Kit's library could not be loaded: " + tsk().failure + "\n";
        map.seal();
        return false;
    }
    auto image = std::make_unique<ExternalImage>();
    image->info.tag = TSK_IMG_INFO_TAG;
    image->source = &source;
    TSK_IMG_INFO* img = tsk().imgOpenExternal(image.get(), static_cast<TSK_OFF_T>(source.size()), 512,
                                              readImage, closeImage, statImage);
    if (img == nullptr) {
        notes += "the image could not be opened for its file systems: " + lastError() + "\n";
        map.seal();
        return false;
    }
    const std::uint64_t evidenceSize = source.size();
    if (TSK_VS_INFO* vs = tsk().vsOpen(img, 0, TSK_VS_TYPE_DETECT)) {
        // A table may list the same space many times over (a GPT of 128 entries all covering one
        // file system): a partition that repeats or overlaps one already read is not read again.
        struct Read {
            std::uint64_t begin, end;
            bool recognised;
            std::vector<TSK_PNUM_T> repeats;
        };
        std::vector<Read> done;
        std::size_t untried = 0;
        for (TSK_PNUM_T i = 0; i < vs->part_count; ++i) {
            const TSK_VS_PART_INFO* part = tsk().vsPartGet(vs, i);
            if (part == nullptr || (part->flags & TSK_VS_PART_FLAG_ALLOC) == 0) {
                continue;
            }
            const std::uint64_t begin = saturatingProduct(part->start, vs->block_size);
            const std::uint64_t end = std::max(
                begin, saturatingProduct(part->start > std::numeric_limits<std::uint64_t>::max() - part->len
                                             ? std::numeric_limits<std::uint64_t>::max()
                                             : part->start + part->len,
                                         vs->block_size));
            // A recognised file system claims all the space it overlaps; one not recognised is
            // tried again only from another start.
            auto same = std::find_if(done.begin(), done.end(), [&](const Read& r) {
                return r.recognised ? begin < r.end && r.begin < end : r.begin == begin;
            });
            if (same != done.end()) {
                same->repeats.push_back(part->addr);
                continue;
            }
            if (done.size() >= maxPartitionsRead) {
                ++untried;
                continue;
            }
            if (TSK_FS_INFO* fs = tsk().fsOpenVol(part, TSK_FS_TYPE_DETECT)) {
                readFileSystem(fs, evidenceSize, map, notes);
                tsk().fsClose(fs);
                done.push_back(Read{begin, end, true, {}});
            } else {
                notes += "partition " + std::to_string(part->addr) + " at offset " + std::to_string(begin) +
                         " (" + std::to_string(end - begin) + " bytes): no file system recognised (" +
                         lastError() + "); it is carved whole\n";
                done.push_back(Read{begin, end, false, {}});
            }
        }
        for (const Read& r : done) {
            if (!r.repeats.empty()) {
                notes += (r.repeats.size() == 1 ? "partition " : "partitions ") + numberList(r.repeats) +
                         (r.repeats.size() == 1 ? " repeats or overlaps" : " repeat or overlap") +
                         " the one at offset " + std::to_string(r.begin) +
                         (r.recognised ? ", read once" : "") + "\n";
            }
        }
        if (untried > 0) {
            notes += "the partition table lists " + std::to_string(untried) + " more partitions than the " +
                     std::to_string(maxPartitionsRead) + " Morrow reads; they are carved whole\n";
        }
        tsk().vsClose(vs);
    } else {
        tsk().errorReset();
        if (TSK_FS_INFO* fs = tsk().fsOpenImg(img, 0, TSK_FS_TYPE_DETECT)) {
            readFileSystem(fs, evidenceSize, map, notes);
            tsk().fsClose(fs);
        } else {
            notes += "no partition table and no file system recognised (" + lastError() +
                     "); the whole image is carved\n";
        }
    }
    if (map.ownedCapped()) {
        notes += "the files hold more runs of blocks than Morrow records; the rest are not named\n";
    }
    if (map.allocationLost()) {
        notes += "some allocated space could not be recorded; it is carved\n";
    }
    tsk().imgClose(img);
    map.seal();
    return !map.fileSystems().empty();
}

} // namespace morrow
