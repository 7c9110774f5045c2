// Carved files decoded by the libraries made for their formats. libjpeg and libpng report a fatal
// error by calling back, and the callback must not return: both longjmp back to the check, which
// keeps no object with a destructor in the frames the jump crosses.
#include "verify/DecoderChecks.h"

#include "verify/PdfDraws.h"

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include <gif_lib.h>
#include <jerror.h>
#include <jpeglib.h>
#include <png.h>
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>
#include <poppler-version.h>
#include <tiffio.h>
#include <zlib.h>

namespace morrow::decoder {

bool builtIn() {
    return true;
}

std::string versions() {
    std::string tiff = TIFFGetVersion();
    // "LIBTIFF, Version 4.5.0\nCopyright..." : the version alone.
    const std::size_t v = tiff.find("Version ");
    tiff = v == std::string::npos ? "libtiff" : "libtiff " + tiff.substr(v + 8, tiff.find('\n', v) - v - 8);
    return "libjpeg-turbo " + std::to_string(LIBJPEG_TURBO_VERSION_NUMBER / 1000000) + "." +
           std::to_string(LIBJPEG_TURBO_VERSION_NUMBER / 1000 % 1000) + "." +
           std::to_string(LIBJPEG_TURBO_VERSION_NUMBER % 1000) + ", libpng " + png_get_libpng_ver(nullptr) +
           ", giflib " + std::to_string(GIFLIB_MAJOR) + "." + std::to_string(GIFLIB_MINOR) + "." +
           std::to_string(GIFLIB_RELEASE) + ", " + tiff + ", poppler " + poppler::version_string();
}

// JPEG --------------------------------------------------------------------------------------------

namespace {

struct JpegRun {
    jpeg_error_mgr errors; // first: libjpeg hands back its address
    std::jmp_buf jump;
    jpeg_decompress_struct info;
    check::Bytes file;
    char fatal[JMSG_LENGTH_MAX] = {};
    bool outOfMemory = false;
    // The first warning: libjpeg reads past damage with warnings, the first of which is the fault.
    char warning[JMSG_LENGTH_MAX] = {};
    bool warned = false;
    bool endOfData = false;
    std::size_t warningAt = 0;
    JDIMENSION linesAtWarning = 0;
    int scanAtWarning = 0;
    bool tooLarge = false;
    bool progressive = false;
    JDIMENSION height = 0;
    // The scans met and the blocks they code: a picture of thousands of scans is decoded
    // thousands of times over.
    jpeg_progress_mgr progress{};
    int scansCounted = 0;
    std::uint64_t scanBlocks = 0;
    bool tooMuchWork = false;
};

void jpegErrorExit(j_common_ptr common) {
    auto* run = reinterpret_cast<JpegRun*>(common->err);
    common->err->format_message(common, run->fatal);
    run->outOfMemory = common->err->msg_code == JERR_OUT_OF_MEMORY;
    std::longjmp(run->jump, 1);
}

void jpegMessage(j_common_ptr common, int level) {
    auto* run = reinterpret_cast<JpegRun*>(common->err);
    if (level != -1 || run->warned) {
        return;
    }
    run->warned = true;
    run->endOfData = common->err->msg_code == JWRN_JPEG_EOF;
    run->warningAt = run->endOfData ? run->file.size : run->file.size - run->info.src->bytes_in_buffer;
    run->linesAtWarning = run->info.output_scanline;
    run->scanAtWarning = run->info.input_scan_number;
    common->err->format_message(common, run->warning);
}

// Called by libjpeg before each step of its input: as a scan starts, its blocks are counted, and
// the decode stops once the scans would cost more than a check may take.
void jpegProgress(j_common_ptr common) {
    auto* run = reinterpret_cast<JpegRun*>(common->err);
    const jpeg_decompress_struct& info = run->info;
    if (info.input_scan_number == run->scansCounted) {
        return;
    }
    run->scansCounted = info.input_scan_number;
    for (int i = 0; i < info.comps_in_scan; ++i) {
        const jpeg_component_info* component = info.cur_comp_info[i];
        run->scanBlocks += std::uint64_t{component->width_in_blocks} * component->height_in_blocks;
    }
    if (run->scansCounted > maxJpegScans || run->scanBlocks > maxJpegScanBlocks) {
        run->tooMuchWork = true;
        std::longjmp(run->jump, 1);
    }
}

// Decodes every line; false when libjpeg gave up (run.fatal says why). Nothing here has a
// destructor: jpegErrorExit jumps back into it.
bool decodeJpeg(JpegRun& run) {
    if (setjmp(run.jump) != 0) {
        return false;
    }
    jpeg_mem_src(&run.info, run.file.data, static_cast<unsigned long>(run.file.size));
    jpeg_read_header(&run.info, TRUE);
    run.progressive = jpeg_has_multiple_scans(&run.info) != 0;
    if (static_cast<std::uint64_t>(run.info.image_width) * run.info.image_height > check::maxPixels) {
        run.tooLarge = true;
        return true;
    }
    // An eighth of the picture: every bit of the entropy-coded data is still decoded (that is
    // where damage shows), the inverse transforms cost a sixty-fourth.
    run.info.scale_num = 1;
    run.info.scale_denom = 8;
    run.info.dct_method = JDCT_IFAST;
    run.info.do_fancy_upsampling = FALSE;
    // Colour pictures give their brightness alone: the colour components' data is still decoded
    // (the scans interleave them), but not transformed, upsampled or converted.
    if (run.info.jpeg_color_space == JCS_YCbCr || run.info.jpeg_color_space == JCS_GRAYSCALE) {
        run.info.out_color_space = JCS_GRAYSCALE;
    }
    jpeg_start_decompress(&run.info);
    run.height = run.info.output_height;
    const JDIMENSION stride = run.info.output_width * static_cast<JDIMENSION>(run.info.output_components);
    JSAMPARRAY rows =
        (*run.info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&run.info), JPOOL_IMAGE, stride, 1);
    while (run.info.output_scanline < run.info.output_height) {
        jpeg_read_scanlines(&run.info, rows, 1);
    }
    jpeg_finish_decompress(&run.info);
    return true;
}

} // namespace

FileVerdict checkJpeg(check::Bytes file) {
    auto run = std::make_unique<JpegRun>();
    run->file = file;
    run->info.err = jpeg_std_error(&run->errors);
    run->errors.error_exit = jpegErrorExit;
    run->errors.emit_message = jpegMessage;
    jpeg_create_decompress(&run->info);
    run->progress.progress_monitor = jpegProgress;
    run->info.progress = &run->progress;
    const bool decoded = file.size > 0 && decodeJpeg(*run);
    // No libjpeg call past this point may fail: the jump back is gone.
    const bool progressive = run->progressive;
    const JDIMENSION height = run->height;
    jpeg_destroy_decompress(&run->info);
    if (run->tooLarge || run->outOfMemory) {
        return check::notChecked();
    }
    if (run->warned && run->endOfData) {
        if (progressive) {
            return check::damaged("JPEG data ends in scan " + std::to_string(run->scanAtWarning) +
                                  " of the progressive picture");
        }
        if (run->linesAtWarning >= height && height > 0) {
            return check::damaged("JPEG data ends before its end marker");
        }
        return check::damaged("JPEG data ends at " + check::percent(run->linesAtWarning, height) +
                              " of the picture");
    }
    if (run->warned) {
        return check::damaged("JPEG data at byte " + std::to_string(run->warningAt) + ": " + run->warning);
    }
    if (run->tooMuchWork) {
        // No fault before it: the file is not said to open, nor to be damaged.
        if (run->scansCounted > maxJpegScans) {
            return check::notChecked("JPEG has more than " + std::to_string(maxJpegScans) +
                                     " scans: not decoded past scan " + std::to_string(maxJpegScans));
        }
        return check::notChecked(
            "JPEG scans 1 to " + std::to_string(run->scansCounted) + " code " +
            std::to_string(run->scanBlocks) + " blocks, more than the " + std::to_string(maxJpegScanBlocks) +
            " a check decodes: not decoded past scan " + std::to_string(run->scansCounted - 1));
    }
    if (!decoded) {
        return check::damaged(file.size == 0 ? "JPEG file is empty" : std::string("JPEG: ") + run->fatal);
    }
    return check::opens();
}

// PNG ---------------------------------------------------------------------------------------------

namespace {

struct PngRun {
    check::Bytes file;
    std::size_t at = 0;
    char fatal[256] = {};
};

void pngRead(png_structp png, png_bytep out, png_size_t length) {
    auto* run = static_cast<PngRun*>(png_get_io_ptr(png));
    if (length > run->file.size - run->at) {
        png_error(png, "the data ends");
    }
    std::memcpy(out, run->file.data + run->at, length);
    run->at += length;
}

void pngError(png_structp png, png_const_charp message) {
    auto* run = static_cast<PngRun*>(png_get_error_ptr(png));
    std::snprintf(run->fatal, sizeof run->fatal, "%s", message);
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// The picture's description read and checked by libpng, up to its image data; false when libpng
// gave up. Nothing here has a destructor: pngError jumps back into it.
bool readPngInfo(png_structp png, png_infop info, PngRun& run) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_set_read_fn(png, &run, pngRead);
    // The chunks' CRCs were checked before, each once.
    png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
    png_set_user_limits(png, 1u << 16, 1u << 16);
    png_set_chunk_malloc_max(png, 16u << 20);
    png_read_info(png, info);
    return true;
}

// The rows of a picture's image data as they follow one another, pass by pass when interlaced.
class PngRows {
  public:
    PngRows(std::uint32_t width, std::uint32_t height, unsigned bitsPerPixel, bool interlaced) {
        static const std::uint32_t adam7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                                  {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
        static const std::uint32_t whole[1][4] = {{0, 0, 1, 1}};
        const auto& passes = interlaced ? adam7 : whole;
        const int count = interlaced ? 7 : 1;
        for (int p = 0; p < count; ++p) {
            const std::uint32_t* pass = passes[p];
            const std::uint64_t w = width > pass[0] ? (width - pass[0] + pass[2] - 1) / pass[2] : 0;
            const std::uint64_t h = height > pass[1] ? (height - pass[1] + pass[3] - 1) / pass[3] : 0;
            if (w > 0 && h > 0) {
                // A filter-type byte, then the pass's pixels packed.
                passes_.push_back({h, 1 + (w * bitsPerPixel + 7) / 8});
                rowsInAll_ += h;
                bytesInAll_ += h * passes_.back().rowBytes;
            }
        }
    }

    std::uint64_t rowsInAll() const { return rowsInAll_; }
    std::uint64_t bytesInAll() const { return bytesInAll_; }
    std::uint64_t rowsDone() const { return rowsDone_; }
    bool done() const { return rowsDone_ == rowsInAll_; }

    // The bytes [base, base + n) of the image data: false at a row that names no filter type.
    bool take(const unsigned char* bytes, std::uint64_t base, std::size_t n) {
        while (!done() && rowStart_ < base + n) {
            if (rowStart_ >= base && bytes[rowStart_ - base] > 4) {
                return false;
            }
            const std::uint64_t rowBytes = passes_[pass_].rowBytes;
            if (rowStart_ + rowBytes > base + n) {
                break; // the row goes on in the next bytes
            }
            advance();
        }
        return true;
    }

  private:
    void advance() {
        rowStart_ += passes_[pass_].rowBytes;
        ++rowsDone_;
        if (++rowInPass_ == passes_[pass_].rows) {
            ++pass_;
            rowInPass_ = 0;
        }
    }

    struct Pass {
        std::uint64_t rows;
        std::uint64_t rowBytes;
    };
    std::vector<Pass> passes_;
    std::uint64_t rowsInAll_ = 0;
    std::uint64_t bytesInAll_ = 0;
    std::uint64_t rowsDone_ = 0;
    std::size_t pass_ = 0;
    std::uint64_t rowInPass_ = 0;
    std::uint64_t rowStart_ = 0;
};

// The image data inflated to its end, its Adler-32 checked, and every row's filter type read.
// Undoing the filters could only give pixels, never find a fault, so it is not done: it was
// three quarters of checking a large picture.
FileVerdict checkPngData(check::Bytes file, const std::vector<std::pair<std::size_t, std::size_t>>& idat,
                         PngRows& rows) {
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) {
        return check::notChecked();
    }
    thread_local std::vector<unsigned char> out(std::size_t{64} << 10);
    std::uint64_t produced = 0;
    int status = Z_OK;
    std::string why;
    for (std::size_t chunk = 0; chunk < idat.size() && status == Z_OK && why.empty(); ++chunk) {
        zs.next_in = const_cast<Bytef*>(file.data + idat[chunk].first);
        zs.avail_in = static_cast<uInt>(idat[chunk].second);
        while (status == Z_OK && why.empty() && (zs.avail_in > 0 || zs.avail_out == 0)) {
            zs.next_out = out.data();
            zs.avail_out = static_cast<uInt>(out.size());
            status = inflate(&zs, Z_NO_FLUSH);
            const std::size_t got = out.size() - zs.avail_out;
            if (status == Z_BUF_ERROR && got == 0) {
                status = Z_OK; // wants the next chunk's bytes
                break;
            }
            // The rows inflated before a fault are counted, so that it is said where it lies.
            if (!rows.take(out.data(), produced, got)) {
                why = "bad adaptive filter value";
            } else if (status != Z_OK && status != Z_STREAM_END) {
                why = zs.msg != nullptr ? zs.msg : "zlib error " + std::to_string(status);
            }
            produced += got;
        }
    }
    inflateEnd(&zs);
    if (why.empty() && status != Z_STREAM_END) {
        why = produced < rows.bytesInAll() ? "Not enough image data" : "image data's zlib stream not ended";
    }
    if (why.empty() && produced < rows.bytesInAll()) {
        why = "Not enough image data";
    }
    // More data than the picture needs is read past by libpng with a warning, as by viewers.
    if (why.empty()) {
        return check::opens();
    }
    if (!rows.done()) {
        return check::damaged("PNG image data breaks at " +
                              check::percent(rows.rowsDone(), rows.rowsInAll()) + " of the picture: " + why);
    }
    return check::damaged("PNG: IDAT: " + why);
}

} // namespace

FileVerdict checkPng(check::Bytes file) {
    // The chunks first, with their CRCs: where a chunk is cut or altered is said by its offset.
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (file.size < 8 || std::memcmp(file.data, signature, 8) != 0) {
        return check::damaged("PNG signature missing");
    }
    // The image data: the first run of IDAT chunks (libpng reads no later one).
    std::vector<std::pair<std::size_t, std::size_t>> idat;
    bool idatEnded = false;
    for (std::size_t at = 8;;) {
        if (file.size - at < 12) {
            return check::damaged("PNG data ends at byte " + std::to_string(file.size) +
                                  ", before its IEND chunk");
        }
        const std::uint32_t length = check::be32(file.data + at);
        const std::string type(reinterpret_cast<const char*>(file.data + at + 4), 4);
        if (length > file.size - at - 12) {
            return check::damaged("PNG chunk " + type + " at byte " + std::to_string(at) +
                                  ": the data ends inside it");
        }
        const auto crc =
            static_cast<std::uint32_t>(crc32(0, file.data + at + 4, static_cast<uInt>(length) + 4));
        if (crc != check::be32(file.data + at + 8 + length)) {
            return check::damaged("PNG chunk " + type + " at byte " + std::to_string(at) + ": CRC mismatch");
        }
        if (type == "IDAT" && !idatEnded) {
            idat.emplace_back(at + 8, length);
        } else if (!idat.empty()) {
            idatEnded = true;
        }
        at += std::size_t{length} + 12;
        if (type == "IEND") {
            break;
        }
    }
    PngRun run;
    run.file = file;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &run, pngError, pngWarning);
    if (png == nullptr) {
        return check::notChecked();
    }
    png_infop info = png_create_info_struct(png);
    const bool made = info != nullptr;
    const bool read = made && readPngInfo(png, info, run);
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int depth = 0;
    int colour = 0;
    int interlace = 0;
    unsigned channels = 0;
    if (read) {
        png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
        channels = png_get_channels(png, info);
    }
    png_destroy_read_struct(&png, made ? &info : nullptr, nullptr);
    if (!made) {
        return check::notChecked();
    }
    if (!read) {
        return check::damaged(std::string("PNG: ") + run.fatal);
    }
    if (std::uint64_t{width} * height > check::maxPixels) {
        return check::notChecked();
    }
    if (idat.empty()) {
        return check::damaged("PNG holds no image data");
    }
    PngRows rows(width, height, channels * static_cast<unsigned>(depth), interlace != PNG_INTERLACE_NONE);
    return checkPngData(file, idat, rows);
}

// GIF ---------------------------------------------------------------------------------------------

namespace {

struct GifReader {
    check::Bytes file;
    std::size_t at = 0;
};

int gifRead(GifFileType* gif, GifByteType* out, int length) {
    auto* reader = static_cast<GifReader*>(gif->UserData);
    const std::size_t n = std::min(static_cast<std::size_t>(length), reader->file.size - reader->at);
    std::memcpy(out, reader->file.data + reader->at, n);
    reader->at += n;
    return static_cast<int>(n);
}

} // namespace

FileVerdict checkGif(check::Bytes file) {
    GifReader reader{file, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, gifRead, &error);
    if (gif == nullptr) {
        return check::damaged(std::string("GIF header: ") + GifErrorString(error));
    }
    // The frames one line at a time: a frame's pixels are never held whole.
    constexpr int maxFrames = 20000;
    std::vector<GifPixelType> line;
    FileVerdict verdict = check::opens();
    int frame = 0;
    std::uint64_t pixelsDecoded = 0;
    auto fault = [&](const std::string& where) {
        const char* why = GifErrorString(gif->Error);
        verdict = check::damaged(where + ": " + (why != nullptr ? why : "unknown error"));
    };
    for (bool more = true; more && verdict.state == FileVerdict::State::Opens;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) {
            if (reader.at >= file.size) {
                verdict = check::damaged("GIF data ends at byte " + std::to_string(file.size) +
                                         ", before its trailer");
            } else {
                fault("GIF block at byte " + std::to_string(reader.at));
            }
            break;
        }
        switch (type) {
        case IMAGE_DESC_RECORD_TYPE: {
            if (++frame > maxFrames) {
                verdict = check::notChecked();
                more = false;
                break;
            }
            if (DGifGetImageDesc(gif) == GIF_ERROR) {
                fault("GIF image " + std::to_string(frame) + " at byte " + std::to_string(reader.at));
                break;
            }
            const int width = gif->Image.Width;
            const int height = gif->Image.Height;
            const std::uint64_t pixels =
                std::uint64_t(std::max(width, 0)) * std::uint64_t(std::max(height, 0));
            if (pixelsDecoded + pixels > maxGifPixels) {
                // "GIF frame 1 opens; frame 2 and those after it are not decoded: ...".
                const std::string decoded = frame == 1 ? std::string()
                                            : frame == 2
                                                ? std::string("frame 1 opens; ")
                                                : "frames 1 to " + std::to_string(frame - 1) + " open; ";
                verdict = check::notChecked("GIF " + decoded + "frame " + std::to_string(frame) +
                                            " and those after it are not decoded: a check decodes " +
                                            std::to_string(maxGifPixels) + " pixels of a file at most");
                more = false;
                break;
            }
            pixelsDecoded += pixels;
            line.resize(static_cast<std::size_t>(std::max(width, 1)));
            for (int y = 0; y < height; ++y) {
                if (DGifGetLine(gif, line.data(), width) == GIF_ERROR) {
                    if (reader.at >= file.size) {
                        verdict = check::damaged("GIF data ends at " + check::percent(y, height) +
                                                 " of image " + std::to_string(frame));
                    } else {
                        fault("GIF image " + std::to_string(frame) + " at " + check::percent(y, height) +
                              " of its lines");
                    }
                    break;
                }
            }
            // Frames are not kept: giflib would otherwise gather every frame's description.
            if (gif->ImageCount > 0) {
                GifFreeSavedImages(gif);
                gif->ImageCount = 0;
            }
            break;
        }
        case EXTENSION_RECORD_TYPE: {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) {
                fault("GIF extension at byte " + std::to_string(reader.at));
                break;
            }
            while (block != nullptr) {
                if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) {
                    fault("GIF extension at byte " + std::to_string(reader.at));
                    break;
                }
            }
            break;
        }
        case TERMINATE_RECORD_TYPE:
            more = false;
            break;
        default:
            break;
        }
    }
    if (frame == 0 && verdict.state == FileVerdict::State::Opens) {
        verdict = check::damaged("GIF holds no image");
    }
    DGifCloseFile(gif, &error);
    return verdict;
}

// TIFF --------------------------------------------------------------------------------------------

namespace {

struct TiffReader {
    check::Bytes file;
    std::uint64_t at = 0;
    std::string firstError;
    bool pastEnd = false; // libtiff asked for bytes past the end of the file

    // The first error, said as where the file ends when the file was too short for what was read.
    std::string fault(const std::string& what) const {
        std::string why = firstError.empty() ? std::string("cannot be read") : firstError;
        if (why.rfind("carved: ", 0) == 0) {
            why.erase(0, 8); // libtiff's own prefix: the name it was given
        }
        return pastEnd ? "TIFF data ends at byte " + std::to_string(file.size) + ", in " + what + ": " + why
                       : what + ": " + why;
    }
};

tmsize_t tiffRead(thandle_t handle, void* out, tmsize_t length) {
    auto* reader = static_cast<TiffReader*>(handle);
    if (length < 0 || reader->at >= reader->file.size) {
        reader->pastEnd = reader->pastEnd || length > 0;
        return 0;
    }
    const std::size_t n =
        std::min(static_cast<std::size_t>(length), reader->file.size - static_cast<std::size_t>(reader->at));
    reader->pastEnd = reader->pastEnd || n < static_cast<std::size_t>(length);
    std::memcpy(out, reader->file.data + reader->at, n);
    reader->at += n;
    return static_cast<tmsize_t>(n);
}
tmsize_t tiffWrite(thandle_t, void*, tmsize_t) {
    return 0;
}
toff_t tiffSeek(thandle_t handle, toff_t offset, int whence) {
    auto* reader = static_cast<TiffReader*>(handle);
    const std::uint64_t base = whence == SEEK_CUR ? reader->at : whence == SEEK_END ? reader->file.size : 0;
    reader->at = base + offset;
    return reader->at;
}
int tiffClose(thandle_t) {
    return 0;
}
toff_t tiffSize(thandle_t handle) {
    return static_cast<TiffReader*>(handle)->file.size;
}
int tiffError(TIFF*, void* user, const char* module, const char* format, va_list arguments) {
    auto* reader = static_cast<TiffReader*>(user);
    if (reader->firstError.empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, arguments);
        reader->firstError = text;
        (void)module;
    }
    return 1; // said: libtiff's own handler prints nothing
}
int tiffWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

} // namespace

FileVerdict checkTiff(check::Bytes file) {
    TiffReader reader{file, 0, {}};
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, tiffError, &reader);
    TIFFOpenOptionsSetWarningHandlerExtR(options, tiffWarning, &reader);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t{64} << 20);
    TIFF* tiff = TIFFClientOpenExt("carved", "rm", &reader, tiffRead, tiffWrite, tiffSeek, tiffClose,
                                   tiffSize, nullptr, nullptr, options);
    TIFFOpenOptionsFree(options);
    if (tiff == nullptr) {
        return check::damaged(reader.fault("TIFF header or first directory"));
    }
    // Each picture's strips or tiles decoded in turn, into one buffer of the largest, as long as
    // the file's pictures keep to check::maxPixels and maxTiffImages in all.
    FileVerdict verdict = check::opens();
    std::vector<unsigned char> buffer;
    std::uint64_t pixelsDecoded = 0;
    int picture = 0;
    auto notDecoded = [&](const std::string& why) {
        // What lies past the cap is only counted: libtiff walks the directories' chain alone.
        const tdir_t directories = TIFFNumberOfDirectories(tiff);
        const auto last = std::max<std::uint64_t>(directories, static_cast<std::uint64_t>(picture));
        // "image 1 opens", "images 1 to 5 open".
        auto images = [](std::uint64_t from, std::uint64_t to, const char* one, const char* many) {
            return from == to ? "image " + std::to_string(from) + one
                              : "images " + std::to_string(from) + " to " + std::to_string(to) + many;
        };
        const auto first = static_cast<std::uint64_t>(picture);
        verdict = check::notChecked("TIFF " + images(1, first - 1, " opens", " open") + "; " +
                                    images(first, last, " is", " are") + " not decoded: " + why);
    };
    do {
        ++picture;
        if (picture > maxTiffImages) {
            notDecoded("a check decodes " + std::to_string(maxTiffImages) + " images of a file at most");
            break;
        }
        if (!reader.firstError.empty()) {
            verdict = check::damaged(reader.fault("TIFF directory of image " + std::to_string(picture)));
            break;
        }
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
        const std::uint64_t pixels = std::uint64_t{width} * height;
        if (pixels > check::maxPixels) {
            verdict = check::notChecked();
            break;
        }
        if (pixelsDecoded + pixels > check::maxPixels) {
            notDecoded("a check decodes " + std::to_string(check::maxPixels) + " pixels of a file at most");
            break;
        }
        pixelsDecoded += pixels;
        const bool tiled = TIFFIsTiled(tiff) != 0;
        const std::uint32_t pieces = tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
        const tmsize_t pieceSize = tiled ? TIFFTileSize(tiff) : TIFFStripSize(tiff);
        if (pieceSize <= 0 || pieceSize > (tmsize_t{64} << 20)) {
            verdict = check::damaged(reader.fault("TIFF image " + std::to_string(picture)));
            break;
        }
        buffer.resize(static_cast<std::size_t>(pieceSize));
        for (std::uint32_t i = 0; i < pieces; ++i) {
            const tmsize_t got = tiled ? TIFFReadEncodedTile(tiff, i, buffer.data(), pieceSize)
                                       : TIFFReadEncodedStrip(tiff, i, buffer.data(), pieceSize);
            if (got < 0 || !reader.firstError.empty()) {
                verdict = check::damaged(reader.fault("TIFF image " + std::to_string(picture) + ", " +
                                                      (tiled ? "tile " : "strip ") + std::to_string(i + 1) +
                                                      " of " + std::to_string(pieces) + " (" +
                                                      check::percent(i, pieces) + " of the picture)"));
                break;
            }
        }
    } while (verdict.state == FileVerdict::State::Opens && TIFFReadDirectory(tiff) != 0);
    if (verdict.state == FileVerdict::State::Opens && !reader.firstError.empty()) {
        verdict = check::damaged(reader.fault("TIFF directory after image " + std::to_string(picture)));
    }
    TIFFClose(tiff);
    return verdict;
}

// PDF ---------------------------------------------------------------------------------------------

namespace {

// poppler reports what it meets through one function for the whole process; the check that is
// running takes the first message.
std::mutex popplerLock;
std::string* popplerFirst = nullptr;

void popplerMessage(const std::string& message, void*) {
    if (popplerFirst != nullptr && popplerFirst->empty()) {
        *popplerFirst = message.rfind("error: ", 0) == 0 ? message.substr(7) : message;
    }
}

// poppler sets up its global tables (fonts, character maps) when the first document is made and
// drops them with the last: one small document is kept for the process, or every check would pay
// for those tables, two thirds of checking a small PDF. Called under popplerLock.
void keepPopplerReady() {
    static const char tiny[] = "%PDF-1.4\n"
                               "1 0 obj\n<</Type/Catalog/Pages 2 0 R>>\nendobj\n"
                               "2 0 obj\n<</Type/Pages/Kids[3 0 R]/Count 1>>\nendobj\n"
                               "3 0 obj\n<</Type/Page/Parent 2 0 R/MediaBox[0 0 1 1]>>\nendobj\n"
                               "xref\n0 4\n0000000000 65535 f \n0000000009 00000 n \n"
                               "0000000054 00000 n \n0000000105 00000 n \n"
                               "trailer\n<</Size 4/Root 1 0 R>>\nstartxref\n166\n%%EOF\n";
    // poppler reads the bytes where they are: they live as long as the document.
    static const std::unique_ptr<poppler::document> kept(
        poppler::document::load_from_raw_data(tiny, static_cast<int>(sizeof tiny - 1)));
    (void)kept;
}

} // namespace

// The document and its pages through poppler, the fault without where the file ends.
static FileVerdict checkPdfPages(check::Bytes file);

namespace {} // namespace

// A fault of a PDF that lacks its end-of-file marker is said as where the file ends: a cut PDF.
std::string pdfFault(check::Bytes file, const std::string& fault) {
    const std::size_t tail = std::min<std::size_t>(file.size, 1024);
    const std::string last(reinterpret_cast<const char*>(file.data + file.size - tail), tail);
    if (last.find("%%EOF") != std::string::npos) {
        return fault;
    }
    return "PDF data ends at byte " + std::to_string(file.size) + " without its %%EOF marker; " + fault;
}

FileVerdict checkPdf(check::Bytes file) {
    FileVerdict verdict = checkPdfPages(file);
    if (verdict.state == FileVerdict::State::Damaged) {
        verdict.fault = pdfFault(file, verdict.fault);
    }
    return verdict;
}

FileVerdict checkPdfPages(check::Bytes file) {
    if (file.size > static_cast<std::size_t>(INT32_MAX)) {
        return check::notChecked();
    }
    std::lock_guard<std::mutex> hold(popplerLock);
    poppler::set_debug_error_function(popplerMessage, nullptr);
    keepPopplerReady();
    std::string first;
    popplerFirst = &first;
    struct Reset {
        ~Reset() { popplerFirst = nullptr; }
    } reset;
    std::unique_ptr<poppler::document> document(poppler::document::load_from_raw_data(
        reinterpret_cast<const char*>(file.data), static_cast<int>(file.size)));
    if (!document) {
        return check::damaged("PDF cannot be opened" + (first.empty() ? std::string() : ": " + first));
    }
    if (document->is_locked()) {
        return check::notChecked(); // encrypted with a password: its pages cannot be read
    }
    if (!first.empty()) {
        return check::damaged("PDF structure: " + first);
    }
    const int pages = document->pages();
    if (pages <= 0) {
        return check::damaged("PDF has no page");
    }
    // Forms that draw forms over and over: poppler would lay out every run of text they draw.
    const pdf::Draws draws = pdf::countDraws(file, maxPdfFormOperators, maxPdfPages);
    if (draws.page != 0) {
        return check::notChecked(
            "PDF page " + std::to_string(draws.page) + " draws forms that draw forms: more than " +
            std::to_string(maxPdfFormOperators) + " operators run in them (a run of text as " +
            std::to_string(pdf::textWeight) + "), not decoded");
    }
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < pages && i < maxPdfPages; ++i) {
        std::unique_ptr<poppler::page> page(document->create_page(i));
        if (!page) {
            return check::damaged("PDF page " + std::to_string(i + 1) + " of " + std::to_string(pages) +
                                  " cannot be read" + (first.empty() ? std::string() : ": " + first));
        }
        // Its text laid out: the page's content streams decoded and interpreted to their end.
        (void)page->text();
        if (!first.empty()) {
            return check::damaged("PDF page " + std::to_string(i + 1) + " of " + std::to_string(pages) +
                                  ": " + first);
        }
        if (std::chrono::steady_clock::now() - started > std::chrono::seconds(maxPdfSeconds)) {
            break;
        }
    }
    return check::opens();
}

} // namespace morrow::decoder
