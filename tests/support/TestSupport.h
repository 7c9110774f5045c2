#pragma once

// Shared test tools: a temporary folder, evidence images laid out at chosen offsets, and a
// CarveHost that records what the engine shows and answers its questions from a script.

#include "CarveHost.h"
#include "CarveState.h"
#include "evidence/EvidenceReader.h"
#include "evidence/MemoryEvidence.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/types.h>
#endif

namespace morrow {
class CarveEngine;
}

namespace morrow::test {

// A fresh folder under the system's temporary folder, removed with everything in it. Paths are
// joined with the system's separator, and `tmp / "a/b"` gives a/b in the system's form.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const;

  private:
    std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);
std::vector<std::string> listFolder(const std::string& path); // names, sorted
// A fixture from tests/data.
std::string fixture(const std::string& name);
std::string fixturePath(const std::string& name);

// Bytes from a list of values, e.g. bytes({0xFF, 0xD8}).
std::string bytes(std::initializer_list<int> values);
// `n` bytes of every value (unlike ImageBuilder::randomFill), the same for the same seed.
std::string randomBytes(std::size_t n, std::uint32_t seed);
std::string le32(std::uint32_t v);
std::string le16(std::uint16_t v);
std::string be32(std::uint32_t v);

// An evidence image built in memory: pieces placed at offsets over seeded filler that holds no
// zero byte and no byte of any signature's first byte, unless asked otherwise.
class ImageBuilder {
  public:
    explicit ImageBuilder(std::uint64_t size = 0, char fill = 0);
    // Filler of pseudo-random bytes (seeded) for the whole image.
    ImageBuilder& randomFill(std::uint32_t seed);
    ImageBuilder& place(std::uint64_t offset, const std::string& piece);
    ImageBuilder& resize(std::uint64_t size, char fill = 0);
    const std::string& data() const { return data_; }
    void writeTo(const std::string& path) const;

  private:
    std::string data_;
};

struct Message {
    std::string text;
    std::string title;
    int style = 0;
    bool app = false;
};

// A CarveHost for tests: the form's contents are fields; every call is recorded in `log`;
// questions are answered by `answer` (default: No), Stop and Quit are raised by `onPoll`.
class FakeHost : public CarveHost {
  public:
    // The form.
    std::vector<std::string> evidence;
    std::vector<KindRow> kinds;
    std::int32_t maxFileSizeKB = limits::defaultMaxFileSizeKB;
    std::string carvingPath;
    bool exactEnds = false;
    bool writeDfxml = false;
    bool reportOnly = false;

    // What happened.
    std::vector<std::string> log;
    std::vector<Message> messages;
    std::vector<std::string> statusTexts;
    std::vector<std::string> percentTexts;
    std::vector<int> focused;
    std::vector<std::string> explored;
    int runModeDepth = 0;
    bool ended = false;
    std::int64_t polls = 0;

    // Scripts. `answer` gets the message; `stopAt`/`quitAt` raise the request at that poll
    // number (counted over takeStopRequest calls, from 1).
    std::function<int(const Message&)> answer;
    std::int64_t stopAt = -1;
    std::int64_t quitAt = -1;

    // Ticks the named rows (by kind list text), leaving the others unticked.
    void tick(std::initializer_list<const char*> rows);
    void tickAll();

    int showMessage(const std::string& text, const std::string& title, int style) override;
    int showAppMessage(const std::string& text, int style) override;
    void setStatusText(const std::string& text) override;
    void setPercentText(const std::string& text) override;
    void setProgressRange(std::int64_t upper) override;
    void setProgressPos(std::int64_t position) override;
    void showProgress(bool visible) override;
    void startAnimation() override { log.push_back("startAnimation"); }
    void pauseAnimation() override { log.push_back("pauseAnimation"); }
    void resumeAnimation() override { log.push_back("resumeAnimation"); }
    void closeAnimation() override { log.push_back("closeAnimation"); }
    void drainMessages() override {}
    bool takeStopRequest() override;
    bool takeQuitRequest() override;
    void enterRunMode() override;
    void leaveRunMode() override;
    void endApplication() override;
    void readForm(CarveState& state) override;
    std::vector<std::string> evidenceRows() override { return evidence; }
    std::vector<KindRow> kindRows() override { return kinds; }
    void resetForm(CarveState& state) override;
    void focusControl(int id) override;
    void exploreFolder(const std::string& path) override;

    // The texts of the messages shown, in order.
    std::vector<std::string> messageTexts() const;

  private:
    std::int64_t quitPolls_ = 0;
};

// An evidence image in memory with a reader over it, for the format readers.
class MemoryImage {
  public:
    explicit MemoryImage(std::string bytes) : source_("ev.img", std::move(bytes)), reader_(source_) {}
    EvidenceReader& reader() { return reader_; }
    operator EvidenceReader&() { return reader_; }

  private:
    MemoryEvidence source_;
    EvidenceReader reader_;
};

// Makes `engine` read the evidence at each path of `images` from memory (no temporary file); any
// other path is opened as a file.
void serveFromMemory(CarveEngine& engine, std::map<std::string, std::string> images);

// Makes an E01 image of the raw `image` with ewfacquire: `target`.E01, .E02, … of at most
// `segmentBytes` each (ewfacquire takes 1 MiB at least), deflate at `compression` ("none",
// "fast" or "best"). False when ewfacquire failed. ewfacquire does not run under Wine: the Windows
// build copies the set that tests/scripts/make-ewf-images made of the same raw image on the Linux
// side (MORROW_EWF_IMAGES), and fails when there is none.
bool acquireEwf(const std::string& image, const std::string& target, std::uint64_t segmentBytes,
                const std::string& compression);
// Whether acquireEwf can make E01 images here: ewfacquire is on PATH, or, on Windows, the images
// were handed over.
bool canAcquireEwf();

#ifndef _WIN32
// How a morrow-cli child is started (POSIX: fork and exec).
struct ChildOptions {
    // Run as the unprivileged account 65534 when the tests run as root, for whom permission bits
    // do not stop writes. The child exits with unprivilegedImpossible when it cannot.
    bool unprivileged = false;
    // RLIMIT_FSIZE in bytes; 0 for none.
    std::uint64_t fileSizeLimit = 0;
    // Descriptors closed before morrow-cli starts, as a caller's `2>&-` leaves them.
    std::vector<int> closed;
    // Standard output is a pipe whose reader has gone, as with `| true`.
    bool stdoutToClosedPipe = false;
    // Environment variables set for the child (TMPDIR ...).
    std::vector<std::pair<std::string, std::string>> environment;
};
inline constexpr int unprivilegedImpossible = 124;

struct ChildResult {
    int status = -1;  // exit status, or 128 + the signal that ended it
    std::string out;  // what it printed on standard output
    std::string err;  // and on standard error
    long peakKiB = 0; // its peak resident set
};

// morrow-cli started in the background with standard input from /dev/null and both outputs
// captured; wait() collects it (the destructor does, when the test did not).
class CliProcess {
  public:
    explicit CliProcess(const std::vector<std::string>& args, const ChildOptions& options = {});
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;
    pid_t pid() const { return pid_; }
    ChildResult wait();

  private:
    TempDir tmp_;
    pid_t pid_ = -1;
};

// Overwrites a byte of `path` and puts its access and modification times back, as a careful
// tamperer would: only its change time moves.
void writeWithTimesPutBack(const std::string& path);

// Runs `commandLine` through the shell with its output discarded; its exit status, or -1.
int runCommand(const std::string& commandLine);
// Whether `program` is on PATH.
bool haveProgram(const std::string& program);

// Runs morrow-cli with `args` to its end.
ChildResult runCliWith(const std::vector<std::string>& args, const ChildOptions& options = {});
// As runCliWith; returns the exit status and fills `out` and `err` with what it printed.
int runCli(const std::vector<std::string>& args, std::string* out = nullptr, std::string* err = nullptr);
#endif

} // namespace morrow::test
