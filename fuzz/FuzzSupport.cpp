#include "FuzzSupport.h"

#include <cstdio>
#include <fcntl.h>
#include <filesystem>

namespace morrow::fuzz {

InputFile::InputFile() {
    std::string pattern = (std::filesystem::temp_directory_path() / "morrow-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        fail("cannot make a temporary folder");
    }
    folder_ = pattern;
    path_ = folder_ + "/input.P01";
}

InputFile::~InputFile() {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
}

void InputFile::write(const std::uint8_t* data, std::size_t size) {
    int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    check(fd >= 0, "cannot create the input file");
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        check(n > 0, "cannot write the input file");
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

InputFile& inputFile() {
    static InputFile file;
    return file;
}

void fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

int QuietHost::showMessage(const std::string& text, const std::string& title, int) {
    messages.push_back(text);
    if (title == "Completed..") {
        lastSummary = text;
    }
    return answerNo;
}

} // namespace morrow::fuzz
