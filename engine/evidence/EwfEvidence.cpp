#include "evidence/EwfEvidence.h"

#include "evidence/CachedEvidence.h"
#include "evidence/EwfSections.h"
#include "evidence/EwfSegmentNames.h"
#ifdef _WIN32
#include "platform/WinApi.h"
#endif

#include <algorithm>
#include <cstring>
#include <new>

// libewf declares its file IO pool functions only when told that libbfio is there; libewf carries
// its own copy of libbfio's functions, so nothing else is linked for them.
#define HAVE_LIBBFIO 1
#include <libbfio.h>
#include <libewf.h>

namespace morrow {

namespace {

// One of libewf's errors in words: its innermost cause, which names what is wrong, without the
// name of the function that found it. The error is freed.
std::string errorText(libewf_error_t* error) {
    if (error == nullptr) {
        return "libewf gives no reason";
    }
    char text[4096] = {};
    libewf_error_backtrace_sprint(error, text, sizeof text);
    libewf_error_free(&error);
    std::string line(text, strnlen(text, sizeof text));
    line = line.substr(0, line.find('\n'));
    const std::size_t colon = line.find(": ");
    if (colon != std::string::npos && line.find(' ') > colon) {
        line.erase(0, colon + 2);
    }
    while (!line.empty() && (line.back() == '.' || line.back() == ' ')) {
        line.pop_back();
    }
    return "libewf: " + (line.empty() ? std::string("gives no reason") : line);
}

// Why the set cannot be read, from the segments' section chains; empty when they look whole (the
// fault is then in something libewf checks beyond them).
std::string explainDamage(const std::vector<std::unique_ptr<RawEvidence>>& segments) {
    std::vector<EvidenceSource*> sources;
    for (const auto& segment : segments) {
        sources.push_back(segment.get());
    }
    return explainEwfDamage(sources);
}

// How libewf reads a segment: through one of our RawEvidence files, which the EwfEvidence owns
// and which outlive libewf's handle. libbfio keeps a position per handle; reads are positioned
// reads from it, so clones of a handle never disturb each other.
struct SegmentIo {
    RawEvidence* file;
    std::uint64_t position;
};

SegmentIo* segmentIo(intptr_t* io) {
    return reinterpret_cast<SegmentIo*>(io);
}

int segmentFree(intptr_t** io, libbfio_error_t**) {
    delete segmentIo(*io);
    *io = nullptr;
    return 1;
}
int segmentClone(intptr_t** destination, intptr_t* source, libbfio_error_t**) {
    // new (nothrow): nothing may be thrown through libewf's C frames.
    auto* copy = new (std::nothrow) SegmentIo{segmentIo(source)->file, 0};
    *destination = reinterpret_cast<intptr_t*>(copy);
    return copy != nullptr ? 1 : -1;
}
// The file was opened read-only by us: opening is a no-op, and writing is refused outright.
int segmentOpen(intptr_t*, int accessFlags, libbfio_error_t**) {
    return (accessFlags & LIBBFIO_ACCESS_FLAG_WRITE) != 0 ? -1 : 1;
}
int segmentClose(intptr_t*, libbfio_error_t**) {
    return 0;
}
ssize_t segmentRead(intptr_t* io, uint8_t* buffer, size_t size, libbfio_error_t**) {
    SegmentIo* s = segmentIo(io);
    const std::size_t got = s->position < s->file->size() ? s->file->read(s->position, buffer, size) : 0;
    s->position += got;
    return static_cast<ssize_t>(got);
}
ssize_t segmentWrite(intptr_t*, const uint8_t*, size_t, libbfio_error_t**) {
    return -1;
}
off64_t segmentSeek(intptr_t* io, off64_t offset, int whence, libbfio_error_t**) {
    SegmentIo* s = segmentIo(io);
    const off64_t base = whence == SEEK_SET   ? 0
                         : whence == SEEK_CUR ? static_cast<off64_t>(s->position)
                         : whence == SEEK_END ? static_cast<off64_t>(s->file->size())
                                              : -1;
    if (base < 0 || offset < -base) {
        return -1;
    }
    s->position = static_cast<std::uint64_t>(base + offset);
    return static_cast<off64_t>(s->position);
}
int segmentExists(intptr_t*, libbfio_error_t**) {
    return 1;
}
int segmentIsOpen(intptr_t*, libbfio_error_t**) {
    return 1;
}
int segmentSize(intptr_t* io, size64_t* size, libbfio_error_t**) {
    *size = segmentIo(io)->file->size();
    return 1;
}

} // namespace

struct EwfEvidence::Library {
    libewf_handle_t* handle = nullptr;
    libbfio_pool_t* pool = nullptr;
    bool opened = false;

    // libewf builds its index of a stretch of chunks when they are first read and keeps it until
    // the handle is closed: about 4 MiB per GiB of media, some 4 GiB for a 1 TiB image, with no
    // setting to bound it. The handle is closed and opened again (some milliseconds) before a
    // read reaches a region of the media other than the last two it read, which bounds the index
    // to those regions whatever the image's size. Regions of 512 MiB keep a run near 28 MiB on
    // a 6 GiB image (33 MiB with regions of 1 GiB) for some 3 % more time.
    std::uint64_t regionBytes = defaultIndexRegion;
    static constexpr std::size_t regionsKept = 2;
    std::vector<std::uint64_t> regions; // read since the handle was opened

    ~Library() {
        if (opened) {
            libewf_handle_close(handle, nullptr);
        }
        if (handle != nullptr) {
            libewf_handle_free(&handle, nullptr);
        }
        // The pool frees its handles, and each handle its SegmentIo.
        if (pool != nullptr) {
            libbfio_pool_free(&pool, nullptr);
        }
    }

    // Puts `file` into the pool; false when libbfio cannot.
    bool add(RawEvidence& file) {
        libbfio_handle_t* bfio = handleFor(file);
        int entry = 0;
        if (bfio == nullptr ||
            libbfio_pool_append_handle(pool, &entry, bfio, LIBBFIO_OPEN_READ, nullptr) != 1) {
            libbfio_handle_free(&bfio, nullptr);
            return false;
        }
        return true;
    }

    // A libbfio handle reading `file`, which frees its SegmentIo; null when libbfio cannot make one.
    static libbfio_handle_t* handleFor(RawEvidence& file) {
        auto* io = new (std::nothrow) SegmentIo{&file, 0};
        if (io == nullptr) {
            return nullptr;
        }
        libbfio_handle_t* bfio = nullptr;
        if (libbfio_handle_initialize(&bfio, reinterpret_cast<intptr_t*>(io), segmentFree, segmentClone,
                                      segmentOpen, segmentClose, segmentRead, segmentWrite, segmentSeek,
                                      segmentExists, segmentIsOpen, segmentSize,
                                      LIBBFIO_FLAG_IO_HANDLE_MANAGED, nullptr) != 1) {
            delete io;
            return nullptr;
        }
        return bfio;
    }

    // Whether libewf knows the signature `file` starts with (EWF version 2 is newer than some
    // libewf releases).
    static bool knowsSignature(RawEvidence& file) {
        libbfio_handle_t* bfio = handleFor(file);
        const bool known = bfio != nullptr && libewf_check_file_signature_file_io_handle(bfio, nullptr) == 1;
        libbfio_handle_free(&bfio, nullptr);
        return known;
    }
};

#if defined(__SANITIZE_ADDRESS__)
#define MORROW_LEAKS_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MORROW_LEAKS_CHECKED 1
#endif
#endif
#if MORROW_LEAKS_CHECKED
// libewf leaks on its ways out of damaged images: its two segment tables when it refuses a set, a
// table's list elements when a table section is wrong, a chunk buffer when a chunk cannot be
// read (once per image here: see read()). All are bounded and all are libewf's own structures;
// the sanitizer builds (tests, fuzz replays, morrow-cli under them) would otherwise fail on every
// damaged E01 image. libewf has no frame pointers, so the leaks are named by the functions that
// allocate them; a libewf handle or error Morrow forgot to free is still reported.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libewf_segment_table_initialize\n"
           "leak:libewf_chunk_data_initialize\n"
           "leak:libmfdata_list_element_initialize\n";
}
#endif

bool EwfEvidence::builtIn() {
    return true;
}

std::string EwfEvidence::libraryVersion() {
    return libewf_get_version();
}

EwfEvidence::EwfEvidence() : library_(std::make_unique<Library>()) {}

EwfEvidence::~EwfEvidence() {
    library_.reset(); // libewf lets go of the segments before they are closed
}

std::unique_ptr<EvidenceSource> EwfEvidence::open(const std::string& path, std::string& error,
                                                  std::uint64_t indexRegion) {
    std::unique_ptr<EwfEvidence> ewf(new EwfEvidence());
    ewf->path_ = path;
    ewf->library_->regionBytes = std::max<std::uint64_t>(indexRegion, 1);

    // libewf's naming of the segments after the first; a first segment named otherwise is the
    // only one it has.
    std::vector<std::string> names;
    int count = 0;
    libewf_error_t* globError = nullptr;
#ifdef _WIN32
    // On Windows libewf takes narrow names in the ANSI code page, and Morrow's are UTF-8: a folder
    // named outside that code page would hide every segment after the first.
    // Its glob splits folder from name at backslashes only: a path written with slashes, which
    // Windows takes as well, would have it look for the later segments in the current folder.
    std::wstring wide = win32::widen(path);
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    wchar_t** globbed = nullptr;
    if (libewf_glob_wide(wide.c_str(), wide.size(), LIBEWF_FORMAT_UNKNOWN, &globbed, &count, &globError) ==
        1) {
        for (int i = 0; i < count; ++i) {
            names.push_back(win32::narrow(globbed[i]));
        }
        libewf_glob_wide_free(globbed, count, nullptr);
    } else {
        libewf_error_free(&globError);
    }
#else
    char** globbed = nullptr;
    if (libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &globbed, &count, &globError) == 1) {
        names.assign(globbed, globbed + count);
        libewf_glob_free(globbed, count, nullptr);
    } else {
        libewf_error_free(&globError);
    }
#endif
    if (names.empty()) {
        names.push_back(path);
    }

    for (const std::string& name : names) {
        std::string why;
        auto segment = RawEvidence::open(name, why);
        if (!segment) {
            error = "segment " + ewfSegmentFileName(name) + ": " + why;
            return nullptr;
        }
        ewf->segments_.push_back(std::move(segment));
    }

    unsigned char head[8] = {};
    const std::size_t headLength = ewf->segments_.front()->read(0, head, sizeof head);
    if (ewfSignature(head, headLength) == EwfSignature::Ewf2 &&
        !Library::knowsSignature(*ewf->segments_.front())) {
        error = "Ex01 images are not supported by libewf " + libraryVersion() +
                ", which this build reads E01 images with";
        return nullptr;
    }

    Library& lib = *ewf->library_;
    libewf_error_t* failure = nullptr;
    if (libewf_handle_initialize(&lib.handle, &failure) != 1 ||
        libbfio_pool_initialize(&lib.pool, 0, LIBBFIO_POOL_UNLIMITED_NUMBER_OF_OPEN_HANDLES, nullptr) != 1) {
        error = errorText(failure);
        return nullptr;
    }
    for (auto& segment : ewf->segments_) {
        if (!lib.add(*segment)) {
            error = "libewf cannot take segment " + ewfSegmentFileName(segment->path());
            return nullptr;
        }
    }
    if (libewf_handle_open_file_io_pool(lib.handle, lib.pool, LIBEWF_OPEN_READ, &failure) != 1) {
        const std::string damage = explainDamage(ewf->segments_);
        error = damage.empty() ? errorText(failure) : damage;
        if (!damage.empty()) {
            libewf_error_free(&failure);
        }
        return nullptr;
    }
    lib.opened = true;
    // libewf opens a set with a segment missing or cut short, and reads zeros where it lacks
    // data; such a set is refused here, saying what is wrong when the chain of sections shows it.
    if (libewf_handle_segment_files_corrupted(lib.handle, nullptr) != 0) {
        const std::string damage = explainDamage(ewf->segments_);
        error = damage.empty() ? "libewf finds its segments incomplete or damaged" : damage;
        return nullptr;
    }
    size64_t mediaSize = 0;
    if (libewf_handle_get_media_size(lib.handle, &mediaSize, &failure) != 1) {
        error = errorText(failure);
        return nullptr;
    }
    ewf->size_ = mediaSize;
    // Reads and the cache go by whole chunks, as libewf decodes them; a chunk size out of the
    // usual range (64 sectors of 512 bytes by default) gives blocks of 32 KiB, which work as well.
    std::uint32_t chunkSize = 0;
    if (libewf_handle_get_chunk_size(lib.handle, &chunkSize, nullptr) == 1 && chunkSize >= 512 &&
        chunkSize <= (1u << 20)) {
        ewf->chunkBytes_ = chunkSize;
    }
    // libewf takes the media size from the volume section as it stands, whatever the segments
    // hold: every chunk needs at least its 4-byte entry in a table section, so a claim of more
    // chunks than the segments have bytes for is refused rather than read as one failed chunk
    // after another to its end.
    std::uint32_t chunkBytes = 0;
    if (libewf_handle_get_chunk_size(lib.handle, &chunkBytes, nullptr) == 1) {
        std::uint64_t stored = 0;
        for (const auto& segment : ewf->segments_) {
            stored += segment->size();
        }
        const std::string overClaim = explainEwfOverClaim(mediaSize, chunkBytes, stored);
        if (!overClaim.empty()) {
            error = overClaim;
            return nullptr;
        }
    }
    // What the image says of its acquisition, for the DFXML report.
    std::uint8_t md5[16];
    if (libewf_handle_get_md5_hash(lib.handle, md5, sizeof md5, nullptr) == 1) {
        static const char digits[] = "0123456789abcdef";
        for (std::uint8_t b : md5) {
            ewf->storedMd5_.push_back(digits[b >> 4]);
            ewf->storedMd5_.push_back(digits[b & 15]);
        }
    }
    std::uint32_t values = 0;
    if (libewf_handle_get_number_of_header_values(lib.handle, &values, nullptr) == 1) {
        for (std::uint32_t i = 0; i < values && i < 64; ++i) {
            std::size_t nameSize = 0;
            std::size_t valueSize = 0;
            if (libewf_handle_get_header_value_identifier_size(lib.handle, i, &nameSize, nullptr) != 1 ||
                nameSize == 0 || nameSize > 256) {
                continue;
            }
            std::vector<std::uint8_t> name(nameSize);
            if (libewf_handle_get_header_value_identifier(lib.handle, i, name.data(), nameSize, nullptr) !=
                    1 ||
                libewf_handle_get_utf8_header_value_size(lib.handle, name.data(), nameSize - 1, &valueSize,
                                                         nullptr) != 1 ||
                valueSize == 0 || valueSize > 65536) {
                continue;
            }
            std::vector<std::uint8_t> value(valueSize);
            if (libewf_handle_get_utf8_header_value(lib.handle, name.data(), nameSize - 1, value.data(),
                                                    valueSize, nullptr) == 1) {
                ewf->acquisition_.emplace_back(std::string(reinterpret_cast<const char*>(name.data())),
                                               std::string(reinterpret_cast<const char*>(value.data())));
            }
        }
    }
    const auto chunkBytesKept = static_cast<std::size_t>(ewf->chunkBytes_);
    return std::make_unique<CachedEvidence>(std::move(ewf), chunkBytesKept, chunksKept);
}

bool EwfEvidence::reopen() {
    Library& lib = *library_;
    lib.regions.clear();
    libewf_error_t* failure = nullptr;
    lib.opened = false;
    if (libewf_handle_close(lib.handle, &failure) != 0 ||
        libewf_handle_open_file_io_pool(lib.handle, lib.pool, LIBEWF_OPEN_READ, &failure) != 1) {
        if (readFault_.empty()) {
            readFault_ = "libewf cannot open it again: " + errorText(failure);
        } else {
            libewf_error_free(&failure);
        }
        return false;
    }
    lib.opened = true;
    // The count of chunks that failed their checksum may start again with the handle.
    std::uint32_t errors = 0;
    libewf_handle_get_number_of_checksum_errors(lib.handle, &errors, nullptr);
    checksumErrors_ = errors;
    return true;
}

std::size_t EwfEvidence::read(std::uint64_t offset, void* outVoid, std::size_t length) {
    if (offset >= size_) {
        return 0;
    }
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset));
    auto* out = static_cast<unsigned char*>(outVoid);
    std::size_t done = 0;
    while (done < want) {
        const std::uint64_t at = offset + done;
        const std::uint64_t index = at / chunkBytes_;
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(want - done, (index + 1) * chunkBytes_ - at));
        if (std::find(badChunks_.begin(), badChunks_.end(), index) != badChunks_.end()) {
            return done; // decoded once and failed: libewf is not asked again
        }
        if (decode(at, out + done, n) != n) {
            if (readFault_.empty()) {
                badChunks_.push_back(index);
                if (badChunks_.size() > badChunksRead) {
                    readFault_ =
                        "more than " + std::to_string(badChunksRead) + " of its chunks cannot be decoded";
                }
            }
            return done; // never part of a chunk: it is damaged as a whole
        }
        done += n;
    }
    return done;
}

std::size_t EwfEvidence::decode(std::uint64_t offset, void* out, std::size_t length) {
    if (offset >= size_) {
        return 0;
    }
    // Once reading has stopped for good nothing more is decoded: libewf leaks the chunk buffer of
    // every read that fails, which is why the chunks read past are bounded too.
    if (!readFault_.empty()) {
        return 0;
    }
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset));
    Library& lib = *library_;
    const std::uint64_t first = offset / lib.regionBytes;
    const std::uint64_t last = (offset + want - 1) / lib.regionBytes;
    std::size_t missing = 0;
    for (std::uint64_t r = first; r <= last; ++r) {
        missing += std::find(lib.regions.begin(), lib.regions.end(), r) == lib.regions.end() ? 1 : 0;
    }
    if (missing > 0 && lib.regions.size() + missing > Library::regionsKept && !reopen()) {
        return 0;
    }
    for (std::uint64_t r = first; r <= last; ++r) {
        if (std::find(lib.regions.begin(), lib.regions.end(), r) == lib.regions.end()) {
            lib.regions.push_back(r);
        }
    }
    if (!lib.opened) {
        return 0;
    }
    libewf_error_t* failure = nullptr;
    const ssize_t got =
        libewf_handle_read_random(lib.handle, out, want, static_cast<off64_t>(offset), &failure);
    if (got < 0) {
        if (damageReason_.empty()) {
            damageReason_ = errorText(failure);
        } else {
            libewf_error_free(&failure);
        }
        return 0;
    }
    // libewf hands on a chunk that fails its checksum as it is, and counts it; Morrow does not
    // carve from it.
    std::uint32_t errors = 0;
    if (libewf_handle_get_number_of_checksum_errors(lib.handle, &errors, nullptr) == 1 &&
        errors > checksumErrors_) {
        if (damageReason_.empty()) {
            damageReason_ = "they fail their checksum";
        }
        checksumErrors_ = errors;
        return 0;
    }
    return static_cast<std::size_t>(got);
}

std::vector<std::string> EwfEvidence::segments() const {
    std::vector<std::string> paths;
    for (const auto& segment : segments_) {
        paths.push_back(segment->path());
    }
    return paths;
}

void EwfEvidence::adviseSequential() {
    for (auto& segment : segments_) {
        segment->adviseSequential();
    }
}

std::string EwfEvidence::changed() {
    for (auto& segment : segments_) {
        const std::string what = segment->changed();
        if (!what.empty()) {
            return "segment " + ewfSegmentFileName(segment->path()) + ": " + what;
        }
    }
    return {};
}

std::uint64_t EwfEvidence::damageEnd(std::uint64_t offset) {
    const std::uint64_t index = offset / chunkBytes_;
    if (!readFault_.empty() || std::find(badChunks_.begin(), badChunks_.end(), index) == badChunks_.end()) {
        return offset;
    }
    return std::min(size_, (index + 1) * chunkBytes_);
}

std::string EwfEvidence::readFault() {
    return readFault_.empty() ? damageReason_ : readFault_;
}

} // namespace morrow
