#include "volumes/FileSystemReader.h"

#include "evidence/EvidenceSource.h"

#include <tsk/libtsk.h>

#include <dlfcn.h>

#include <cctype>
#include <cstring>
#include <memory>

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

// Bounds on what one file system may cost, whatever it claims: entries recorded and block runs
// visited by the file walks.
constexpr std::size_t maxOwners = 4'000'000;
constexpr std::uint64_t maxFileBlocks = 200'000'000;

struct Walk {
    TSK_FS_INFO* fs;
    AllocationMap& map;
    std::uint32_t owner = 0;
    std::uint64_t blocks = 0;
    bool capped = false;
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
    if (++walk->blocks > maxFileBlocks) {
        walk->capped = true;
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
    if (file->name == nullptr || file->meta == nullptr || file->meta->type != TSK_FS_META_TYPE_REG) {
        return TSK_WALK_CONT;
    }
    if (walk->map.ownerCount() >= maxOwners || walk->capped) {
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
    // A deleted file's clusters are libtsk's best guess; a walk that fails leaves it without runs.
    if (tsk().fsFileWalk(file,
                         static_cast<TSK_FS_FILE_WALK_FLAG_ENUM>(TSK_FS_FILE_WALK_FLAG_AONLY |
                                                                 TSK_FS_FILE_WALK_FLAG_NOSPARSE),
                         fileBlock, walk) != 0) {
        tsk().errorReset();
    }
    return TSK_WALK_CONT;
}

std::string upper(const char* text) {
    std::string out = text != nullptr ? text : "?";
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

void readFileSystem(TSK_FS_INFO* fs, AllocationMap& map, std::string& notes) {
    map.addFileSystem(
        FileSystemFound{upper(tsk().fsTypeToName(fs->ftype)), static_cast<std::uint64_t>(fs->offset),
                        static_cast<std::uint64_t>(fs->block_count) * fs->block_size, fs->block_size});
    Walk walk{fs, map};
    if (tsk().fsBlockWalk(fs, fs->first_block, fs->last_block,
                          static_cast<TSK_FS_BLOCK_WALK_FLAG_ENUM>(TSK_FS_BLOCK_WALK_FLAG_ALLOC |
                                                                   TSK_FS_BLOCK_WALK_FLAG_AONLY),
                          allocatedBlock, &walk) != 0) {
        notes += "the allocation of the file system at offset " + std::to_string(fs->offset) +
                 " could not be read whole: " + lastError() + "\n";
    }
    if (tsk().fsDirWalk(fs, fs->root_inum,
                        static_cast<TSK_FS_DIR_WALK_FLAG_ENUM>(
                            TSK_FS_DIR_WALK_FLAG_ALLOC | TSK_FS_DIR_WALK_FLAG_UNALLOC |
                            TSK_FS_DIR_WALK_FLAG_RECURSE | TSK_FS_DIR_WALK_FLAG_NOORPHAN),
                        directoryEntry, &walk) != 0) {
        notes += "the directories of the file system at offset " + std::to_string(fs->offset) +
                 " could not be read whole: " + lastError() + "\n";
    }
    if (walk.capped) {
        notes += "the file system at offset " + std::to_string(fs->offset) +
                 " has more entries than Morrow records; the rest are not named\n";
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
    if (TSK_VS_INFO* vs = tsk().vsOpen(img, 0, TSK_VS_TYPE_DETECT)) {
        for (TSK_PNUM_T i = 0; i < vs->part_count; ++i) {
            const TSK_VS_PART_INFO* part = tsk().vsPartGet(vs, i);
            if (part == nullptr || (part->flags & TSK_VS_PART_FLAG_ALLOC) == 0) {
                continue;
            }
            if (TSK_FS_INFO* fs = tsk().fsOpenVol(part, TSK_FS_TYPE_DETECT)) {
                readFileSystem(fs, map, notes);
                tsk().fsClose(fs);
            } else {
                notes += "partition " + std::to_string(part->addr) + " at offset " +
                         std::to_string(part->start * vs->block_size) + " (" +
                         std::to_string(part->len * vs->block_size) + " bytes): no file system recognised (" +
                         lastError() + "); it is carved whole\n";
            }
        }
        tsk().vsClose(vs);
    } else {
        tsk().errorReset();
        if (TSK_FS_INFO* fs = tsk().fsOpenImg(img, 0, TSK_FS_TYPE_DETECT)) {
            readFileSystem(fs, map, notes);
            tsk().fsClose(fs);
        } else {
            notes += "no partition table and no file system recognised (" + lastError() +
                     "); the whole image is carved\n";
        }
    }
    tsk().imgClose(img);
    map.seal();
    return !map.fileSystems().empty();
}

} // namespace morrow
