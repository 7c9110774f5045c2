#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace morrow {

// How far a whole run has come, beside the pass's own bar: the bytes read of the run, the files
// carved, and the time left at the rate read so far.
//
// A run's work is what its passes read: each evidence file once whole by its first header scan
// (the later scans take their matches from that read), and then what the carvers read of its
// candidates. The total is an estimate that the reads correct as they come: the scan's part is
// the evidence's size, the carvers' part the candidates still ahead at the bytes read per
// candidate so far, and an evidence file not opened yet counts as the opened ones did on average.
// The run driver feeds it at the scan's blocks and the carvers' candidates, never per byte.
class RunProgress {
  public:
    using Clock = std::chrono::steady_clock;

    struct Figures {
        std::uint64_t bytesDone = 0;
        std::uint64_t bytesTotal = 0; // never below bytesDone
        std::int64_t files = 0;
        std::int64_t secondsLeft = -1; // -1 while the rate is not known yet; 0 once the run is over
    };

    // A run of `evidenceFiles` files begins.
    void start(std::int64_t evidenceFiles, Clock::time_point now);
    // The next evidence file is open: its scan will read `size` bytes.
    void startEvidence(std::uint64_t size);
    // The reading scan has passed `position` bytes of the evidence (holes of sparse evidence
    // count as read: passing them is the scan's work too).
    void scanned(std::uint64_t position);
    // A carver read `bytes` since the last report and is at its next candidate; `candidatesAhead`
    // of this evidence file's passes remain after it.
    void candidate(std::uint64_t bytes, std::int64_t candidatesAhead);
    // What a carver read after the last candidate it reported (its pass is over).
    void carverRead(std::uint64_t bytes) { carveBytes_ += bytes; }
    void fileCarved() { ++files_; }
    // The run is over: nothing is left.
    void finish() { finished_ = true; }

    Figures figures(Clock::time_point now) const;
    // True when the figures are worth showing again: the first time, then ten times a second (a
    // host that draws less often then shows figures no older than that).
    bool due(Clock::time_point now);

    // "1.2 GiB of 4.0 GiB, 312 files, about 2 min left".
    static std::string text(const Figures& figures);
    static std::string sizeText(std::uint64_t bytes);

  private:
    Clock::time_point started_{};
    Clock::time_point shown_{};
    bool everShown_ = false;
    bool finished_ = false;
    std::int64_t evidenceLeft_ = 0; // evidence files not opened yet
    std::int64_t evidenceOpened_ = 0;
    std::uint64_t evidenceBytesOpened_ = 0;
    std::uint64_t scanSize_ = 0;     // of the evidence file open now
    std::uint64_t scanPosition_ = 0; // how far its reading scan has come
    std::uint64_t scanBytes_ = 0;    // passed by scans, the whole run
    std::uint64_t carveBytes_ = 0;   // read by carvers, the whole run
    std::int64_t candidates_ = 0;    // handled, the whole run
    std::int64_t candidatesAhead_ = 0;
    std::int64_t files_ = 0;
};

} // namespace morrow
