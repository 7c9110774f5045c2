#pragma once

// Shared by the fuzz targets. Format readers take the input as evidence in memory; the whole-run
// target writes it to a real evidence file, as an examiner's run reads one.

#include "CarveState.h"
#include "QuietHost.h"
#include "evidence/EvidenceReader.h"
#include "evidence/MemoryEvidence.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace morrow::fuzz {

// One temporary folder per process, holding the evidence file that every input overwrites.
class InputFile {
  public:
    InputFile();
    ~InputFile();
    // Writes the input as the evidence file.
    void write(const std::uint8_t* data, std::size_t size);
    const std::string& folder() const { return folder_; }
    const std::string& path() const { return path_; }

  private:
    std::string folder_;
    std::string path_;
};

// The process-wide input file (created on first use, removed at exit).
InputFile& inputFile();

// The input as evidence in memory, with a reader over it.
struct InputEvidence {
    InputEvidence(const std::uint8_t* data, std::size_t size)
        : source("input", std::string(reinterpret_cast<const char*>(data), size)), reader(source) {}
    MemoryEvidence source;
    EvidenceReader reader;
};

// Aborts with a message when a reader broke one of its promises, so libFuzzer keeps the input.
[[noreturn]] void fail(const char* what);
inline void check(bool ok, const char* what) {
    if (!ok) {
        fail(what);
    }
}

// A quiet host that keeps every text it was shown: the run goes through, and the target can
// check what the run reported.
class QuietHost : public morrow::QuietHost {
  public:
    QuietHost() { maxFileSizeKB = 1; }
    std::string lastSummary;
    std::vector<std::string> messages; // every text shown, the summary included

    int showMessage(const std::string& text, const std::string& title, int) override;
    int showAppMessage(const std::string& text, int) override {
        messages.push_back(text);
        return answerOk;
    }
};

} // namespace morrow::fuzz
