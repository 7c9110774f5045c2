#include "verify/FileCheck.h"

#include "verify/ContainerChecks.h"
#include "verify/DecoderChecks.h"
#include "verify/MovieCheck.h"
#include "verify/RasterChecks.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <vector>

namespace morrow {

bool FileCheck::checks(FileTypeId type) {
    switch (type) {
    case kind::Bmp:
    case kind::Psd:
    case kind::Zip:
    case kind::CompoundDoc:
    case kind::VideoQuickTime:
        return true;
    case kind::Jpeg:
    case kind::Png:
    case kind::Gif:
    case kind::Tiff:
    case kind::Pdf:
        return decoder::builtIn();
    default:
        return false;
    }
}

FileVerdict FileCheck::check(check::Bytes file, FileTypeId type) {
    try {
        switch (type) {
        case kind::Bmp:
            return raster::checkBmp(file);
        case kind::Psd:
            return raster::checkPsd(file);
        case kind::Zip:
            return container::checkZip(file);
        case kind::CompoundDoc:
            return container::checkCompoundDoc(file);
        case kind::VideoQuickTime:
            return movie::checkQuickTime(file);
        case kind::Jpeg:
            return decoder::checkJpeg(file);
        case kind::Png:
            return decoder::checkPng(file);
        case kind::Gif:
            return decoder::checkGif(file);
        case kind::Tiff:
            return decoder::checkTiff(file);
        case kind::Pdf:
            return decoder::checkPdf(file);
        default:
            return check::notChecked();
        }
    } catch (const std::bad_alloc&) {
        return check::notChecked("the check needed more memory than it may use");
    } catch (const std::exception&) {
        // A library that throws: no verdict rather than a wrong one.
        return check::notChecked();
    }
}

FileVerdict FileCheck::checkFile(const std::string& path, FileTypeId type, const Run& run) {
    if (!checks(type)) {
        return check::notChecked();
    }
    // std::filesystem takes the UTF-8 path as such on every system (UTF-16 on Windows).
    const std::filesystem::path name(std::u8string(path.begin(), path.end()));
    std::ifstream in(name, std::ios::binary);
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(name, error);
    if (!in || error) {
        return check::damaged("the carved file cannot be read back");
    }
    if (size > check::maxFileBytes) {
        return check::notChecked();
    }
    // One buffer per checking thread, kept from file to file: a fresh one for every file costs
    // the system a page fault for every page of every file. Past 32 MiB it is given back.
    thread_local std::unique_ptr<unsigned char[]> buffer;
    thread_local std::size_t capacity = 0;
    const auto length = static_cast<std::size_t>(size);
    if (length > capacity || (capacity > (std::size_t{32} << 20) && length <= (std::size_t{32} << 20))) {
        buffer.reset();
        capacity = 0;
        try {
            buffer.reset(new unsigned char[std::max<std::size_t>(length, 1)]);
        } catch (const std::bad_alloc&) {
            return check::notChecked();
        }
        capacity = std::max<std::size_t>(length, 1);
    }
    if (!in.read(reinterpret_cast<char*>(buffer.get()), static_cast<std::streamsize>(length))) {
        return check::damaged("the carved file cannot be read back");
    }
    return run ? run(check::Bytes{buffer.get(), length}, type)
               : check(check::Bytes{buffer.get(), length}, type);
}

std::vector<std::pair<std::string, std::string>> FileCheck::libraries() {
    // "libjpeg-turbo 2.1.5, libpng 1.6.39, ...": each name and its version.
    std::vector<std::pair<std::string, std::string>> found;
    const std::string all = decoder::builtIn() ? decoder::versions() : std::string();
    std::size_t at = 0;
    while (at < all.size()) {
        std::size_t end = all.find(", ", at);
        if (end == std::string::npos) {
            end = all.size();
        }
        const std::string one = all.substr(at, end - at);
        const std::size_t space = one.rfind(' ');
        if (space != std::string::npos) {
            found.emplace_back(one.substr(0, space), one.substr(space + 1));
        }
        at = end + 2;
    }
    return found;
}

std::string FileCheck::describe() {
    std::string text = "Carved-file checks (--verify): ZIP and compound documents, BMP, PSD and movies (MP4, "
                       "MOV, 3GP) by Morrow's own code and zlib";
    text += decoder::builtIn()
                ? ";\n  JPEG, PNG, GIF, TIFF and PDF decoded with " + decoder::versions()
                : ";\n  JPEG, PNG, GIF, TIFF and PDF not checked by this build (no format libraries)";
    return text;
}

} // namespace morrow
