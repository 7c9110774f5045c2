#include "TestSupport.h"

#include "CarveEngine.h"
#include "evidence/MemoryEvidence.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#ifdef _WIN32
#include "platform/WinApi.h"

#include <windows.h>
#else
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#endif

namespace morrow::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
#ifdef _WIN32
    std::random_device seed;
    std::mt19937 rng(seed());
    std::error_code ec;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const fs::path candidate =
            fs::temp_directory_path() / ("morrow-test-" + std::to_string(rng() % 1000000000));
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate.string();
        }
    }
    if (path_.empty()) {
        throw std::runtime_error("cannot make a temporary folder");
    }
#else
    std::string pattern = (fs::temp_directory_path() / "morrow-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
#endif
}

std::string TempDir::operator/(const std::string& name) const {
    std::string joined = path_ + pathSeparator + name;
    std::replace(joined.begin(), joined.end(), '/', pathSeparator);
    return joined;
}

#ifdef _WIN32
namespace {

// Removes the folder `path` (a \\?\ path) and everything in it. std::filesystem cannot walk
// folders past 260 characters on Windows (it went on stat'ing names from the working folder,
// forever), so the wide calls with the \\?\ form do it; read-only files are made writable first.
void removeTree(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring child = path + L"\\" + name;
            const DWORD attributes = entry.dwFileAttributes;
            if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
                SetFileAttributesW(child.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
            }
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                DeleteFileW(child.c_str());
            } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                RemoveDirectoryW(child.c_str()); // a link: never into it
            } else {
                removeTree(child);
            }
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

} // namespace

TempDir::~TempDir() {
    std::wstring path = win32::systemPath(path_);
    if (path.rfind(L"\\\\?\\", 0) != 0) {
        path = L"\\\\?\\" + path;
    }
    removeTree(path);
}
#else
TempDir::~TempDir() {
    std::error_code ec;
    // Tests make folders read-only; give the owner its rights back so everything can go.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}
#endif

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

bool fileExists(const std::string& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec;
}

std::vector<std::string> listFolder(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(path, ec)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string fixturePath(const std::string& name) {
    return std::string(MORROW_TEST_DATA) + "/" + name;
}

std::string fixture(const std::string& name) {
    std::string data = readFile(fixturePath(name));
    if (data.empty()) {
        ADD_FAILURE() << "missing fixture " << name;
    }
    return data;
}

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) {
        s.push_back(static_cast<char>(static_cast<unsigned char>(v)));
    }
    return s;
}

std::string le32(std::uint32_t v) {
    return bytes({int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF), int(v >> 24)});
}
std::string le16(std::uint16_t v) {
    return bytes({int(v & 0xFF), int(v >> 8)});
}
std::string be32(std::uint32_t v) {
    return bytes({int(v >> 24), int((v >> 16) & 0xFF), int((v >> 8) & 0xFF), int(v & 0xFF)});
}

ImageBuilder::ImageBuilder(std::uint64_t size, char fill) : data_(size, fill) {}

std::string randomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::string out(n, '\0');
    for (char& c : out) {
        c = static_cast<char>(rng() & 0xFF);
    }
    return out;
}

ImageBuilder& ImageBuilder::randomFill(std::uint32_t seed) {
    std::mt19937 rng(seed);
    for (char& c : data_) {
        // Lower-case letters: never a zero byte and never the first byte of a signature, so
        // the filler cannot make a header or a footer by chance.
        c = static_cast<char>('a' + rng() % 26);
    }
    return *this;
}

ImageBuilder& ImageBuilder::place(std::uint64_t offset, const std::string& piece) {
    if (offset + piece.size() > data_.size()) {
        data_.resize(offset + piece.size(), 0);
    }
    std::copy(piece.begin(), piece.end(), data_.begin() + static_cast<std::ptrdiff_t>(offset));
    return *this;
}

ImageBuilder& ImageBuilder::resize(std::uint64_t size, char fill) {
    data_.resize(size, fill);
    return *this;
}

void ImageBuilder::writeTo(const std::string& path) const {
    writeFile(path, data_);
}

void FakeHost::tick(std::initializer_list<const char*> rows) {
    kinds.clear();
    for (const char* name :
         {"BMP Files", "Compound Doc Files", "GIF Files", "HTML Files", "JPEG Files", "PDF Files",
          "PNG Files", "PSD Files", "TIFF Files", "Video Files", "ZIP Files"}) {
        bool on =
            std::any_of(rows.begin(), rows.end(), [&](const char* r) { return std::string(r) == name; });
        kinds.push_back(KindRow{name, on});
    }
}

void FakeHost::tickAll() {
    tick({"BMP Files", "Compound Doc Files", "GIF Files", "HTML Files", "JPEG Files", "PDF Files",
          "PNG Files", "PSD Files", "TIFF Files", "Video Files", "ZIP Files"});
}

int FakeHost::showMessage(const std::string& text, const std::string& title, int style) {
    Message m{text, title, style, false};
    messages.push_back(m);
    log.push_back("showMessage:" + text);
    if (answer) {
        return answer(m);
    }
    return (style & 0x0F) == 0x04 ? answerNo : answerOk;
}

int FakeHost::showAppMessage(const std::string& text, int style) {
    Message m{text, "morrow", style, true};
    messages.push_back(m);
    log.push_back("showAppMessage:" + text);
    if (answer) {
        return answer(m);
    }
    return answerOk;
}

void FakeHost::setStatusText(const std::string& text) {
    statusTexts.push_back(text);
}

void FakeHost::setPercentText(const std::string& text) {
    percentTexts.push_back(text);
}
void FakeHost::setProgressRange(std::int64_t upper) {
    log.push_back("range:" + std::to_string(upper));
}
void FakeHost::setProgressPos(std::int64_t position) {
    log.push_back("pos:" + std::to_string(position));
}
void FakeHost::showProgress(bool visible) {
    log.push_back(visible ? "show" : "hide");
}

bool FakeHost::takeStopRequest() {
    ++polls;
    return polls == stopAt;
}

bool FakeHost::takeQuitRequest() {
    ++quitPolls_;
    return quitPolls_ == quitAt;
}

void FakeHost::enterRunMode() {
    ++runModeDepth;
    log.push_back("enterRunMode");
}

void FakeHost::leaveRunMode() {
    runModeDepth = 0;
    log.push_back("leaveRunMode");
}

void FakeHost::endApplication() {
    ended = true;
    log.push_back("endApplication");
}

void FakeHost::readForm(CarveState& state) {
    state.maxFileSizeKB = maxFileSizeKB;
    state.carvingPath = carvingPath;
    state.exactEnds = exactEnds ? 1 : 0;
    state.writeDfxml = writeDfxml ? 1 : 0;
    state.reportOnly = reportOnly ? 1 : 0;
}

void FakeHost::resetForm(CarveState& state) {
    log.push_back("resetForm");
    state.carvingPath.clear();
    state.pendingEvidencePath.clear();
    state.maxFileSizeKB = limits::defaultMaxFileSizeKB;
    state.allPictureFiles = 0;
    carvingPath.clear();
    maxFileSizeKB = limits::defaultMaxFileSizeKB;
    for (auto& k : kinds) {
        k.checked = false;
    }
}

void FakeHost::focusControl(int id) {
    focused.push_back(id);
}
void FakeHost::exploreFolder(const std::string& path) {
    explored.push_back(path);
}

std::vector<std::string> FakeHost::messageTexts() const {
    std::vector<std::string> texts;
    for (const auto& m : messages) {
        texts.push_back(m.text);
    }
    return texts;
}

void serveFromMemory(CarveEngine& engine, std::map<std::string, std::string> images) {
    engine.setEvidenceOpener(
        [images = std::move(images)](const std::string& path,
                                     std::string& error) -> std::unique_ptr<EvidenceSource> {
            auto it = images.find(path);
            if (it == images.end()) {
                return openEvidenceSource(path, error);
            }
            return std::make_unique<MemoryEvidence>(path, it->second);
        });
}

#ifdef _WIN32

// The sets are SEED-SIZE-SEGMENT-COMPRESSION.raw with their .E01, .E02, …; the one whose raw image
// holds the same bytes as `image` is copied.
bool acquireEwf(const std::string& image, const std::string& target, std::uint64_t segmentBytes,
                const std::string& compression) {
    const std::string wanted = readFile(image);
    const std::string ending = "-" + std::to_string(segmentBytes) + "-" + compression + ".raw";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(MORROW_EWF_IMAGES, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() <= ending.size() ||
            name.compare(name.size() - ending.size(), ending.size(), ending) != 0 ||
            entry.file_size(ec) != wanted.size() || readFile(entry.path().string()) != wanted) {
            continue;
        }
        const std::string stem = entry.path().string().substr(0, entry.path().string().size() - 4);
        for (int n = 1; fs::exists(stem + ".E" + (n < 10 ? "0" : "") + std::to_string(n)); ++n) {
            const std::string suffix = std::string(".E") + (n < 10 ? "0" : "") + std::to_string(n);
            if (!fs::copy_file(stem + suffix, target + suffix, fs::copy_options::overwrite_existing, ec)) {
                return false;
            }
        }
        return true;
    }
    return false;
}

bool canAcquireEwf() {
    std::error_code ec;
    return !fs::is_empty(MORROW_EWF_IMAGES, ec) && !ec;
}

#else

CliProcess::CliProcess(const std::vector<std::string>& args, const ChildOptions& options) {
    const std::string outPath = tmp_ / "out", errPath = tmp_ / "err";
    pid_ = ::fork();
    if (pid_ != 0) {
        return;
    }
    if (!std::freopen("/dev/null", "r", stdin) || !std::freopen(outPath.c_str(), "w", stdout) ||
        !std::freopen(errPath.c_str(), "w", stderr)) {
        ::_exit(127);
    }
    if (options.unprivileged && ::getuid() == 0) {
        constexpr uid_t nobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0) {
            ::_exit(unprivilegedImpossible);
        }
        if (::access(MORROW_CLI_PATH, X_OK) != 0) {
            ::_exit(unprivilegedImpossible); // the build tree is closed to other accounts
        }
    }
    // As a shell starts it: a limit or a closed pipe kills unless morrow-cli itself says otherwise.
    std::signal(SIGXFSZ, SIG_DFL);
    std::signal(SIGPIPE, SIG_DFL);
    if (options.fileSizeLimit != 0) {
        rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            ::_exit(125);
        }
    }
    if (options.stdoutToClosedPipe) {
        int ends[2];
        if (::pipe(ends) != 0 || ::dup2(ends[1], STDOUT_FILENO) < 0) {
            ::_exit(125);
        }
        ::close(ends[0]);
        ::close(ends[1]);
    }
    for (int fd : options.closed) {
        ::close(fd);
    }
    for (const auto& [name, value] : options.environment) {
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<std::string> copy = args;
    std::vector<char*> argv{const_cast<char*>(MORROW_CLI_PATH)};
    for (auto& a : copy) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    ::execv(MORROW_CLI_PATH, argv.data());
    ::_exit(127);
}

CliProcess::~CliProcess() {
    if (pid_ > 0) {
        wait();
    }
}

ChildResult CliProcess::wait() {
    ChildResult result;
    int status = 0;
    rusage usage{};
    ::wait4(pid_, &status, 0, &usage);
    pid_ = -1;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.peakKiB = usage.ru_maxrss;
    result.out = readFile(tmp_ / "out");
    result.err = readFile(tmp_ / "err");
    return result;
}

void writeWithTimesPutBack(const std::string& path) {
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0) << path;
    // The change time must move even where the file system's clock ticks coarsely.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(::pwrite(fd, "x", 1, 200), 1);
    ::close(fd);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

int runCommand(const std::string& commandLine) {
    const int status = std::system((commandLine + " >/dev/null 2>&1").c_str());
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool haveProgram(const std::string& program) {
    return runCommand("command -v '" + program + "'") == 0;
}

bool acquireEwf(const std::string& image, const std::string& target, std::uint64_t segmentBytes,
                const std::string& compression) {
    return runCommand("ewfacquire -u -q -t '" + target + "' -S " + std::to_string(segmentBytes) + " -c " +
                      compression + " '" + image + "'") == 0;
}

bool canAcquireEwf() {
    return haveProgram("ewfacquire");
}

ChildResult runCliWith(const std::vector<std::string>& args, const ChildOptions& options) {
    return CliProcess(args, options).wait();
}

int runCli(const std::vector<std::string>& args, std::string* out, std::string* err) {
    ChildResult result = runCliWith(args);
    if (out) {
        *out = result.out;
    }
    if (err) {
        *err = result.err;
    }
    return result.status;
}

#endif // _WIN32

} // namespace morrow::test
