#include "carve/RunProgress.h"

#include <algorithm>
#include <cstdio>

namespace morrow {

void RunProgress::start(std::int64_t evidenceFiles, Clock::time_point now) {
    *this = RunProgress{};
    started_ = now;
    evidenceLeft_ = std::max<std::int64_t>(evidenceFiles, 0);
}

void RunProgress::startEvidence(std::uint64_t size) {
    evidenceLeft_ = std::max<std::int64_t>(evidenceLeft_ - 1, 0);
    ++evidenceOpened_;
    evidenceBytesOpened_ += size;
    scanSize_ = size;
    scanPosition_ = 0;
    candidatesAhead_ = 0;
}

void RunProgress::scanned(std::uint64_t position) {
    position = std::min(position, scanSize_);
    if (position > scanPosition_) {
        scanBytes_ += position - scanPosition_;
        scanPosition_ = position;
    }
}

void RunProgress::candidate(std::uint64_t bytes, std::int64_t candidatesAhead) {
    carveBytes_ += bytes;
    ++candidates_;
    candidatesAhead_ = std::max<std::int64_t>(candidatesAhead, 0);
}

RunProgress::Figures RunProgress::figures(Clock::time_point now) const {
    Figures f;
    f.files = files_;
    f.bytesDone = scanBytes_ + carveBytes_;
    if (finished_) {
        f.bytesTotal = f.bytesDone;
        f.secondsLeft = 0;
        return f;
    }
    std::uint64_t left = scanSize_ - scanPosition_;
    if (candidates_ > 0) {
        left += static_cast<std::uint64_t>(candidatesAhead_) *
                (carveBytes_ / static_cast<std::uint64_t>(candidates_));
    }
    if (evidenceLeft_ > 0 && evidenceOpened_ > 0) {
        // A file not opened yet: the opened ones' average size, and as much carving per byte as
        // theirs needed so far.
        const double average =
            static_cast<double>(evidenceBytesOpened_) / static_cast<double>(evidenceOpened_);
        const double carving =
            scanBytes_ > 0 ? static_cast<double>(carveBytes_) / static_cast<double>(scanBytes_) : 0.0;
        left += static_cast<std::uint64_t>(static_cast<double>(evidenceLeft_) * average * (1.0 + carving));
    }
    f.bytesTotal = f.bytesDone + left;
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    if (elapsed >= 1.0 && f.bytesDone > 0) {
        const double rate = static_cast<double>(f.bytesDone) / elapsed;
        f.secondsLeft = static_cast<std::int64_t>(static_cast<double>(left) / rate + 0.5);
    }
    return f;
}

bool RunProgress::due(Clock::time_point now) {
    if (everShown_ && now - shown_ < std::chrono::milliseconds(100)) {
        return false;
    }
    everShown_ = true;
    shown_ = now;
    return true;
}

std::string RunProgress::sizeText(std::uint64_t bytes) {
    if (bytes < 1024) {
        return std::to_string(bytes) + " B";
    }
    const char* const units[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(units)) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string RunProgress::text(const Figures& figures) {
    std::string line = sizeText(figures.bytesDone) + " of " + sizeText(figures.bytesTotal) + ", " +
                       std::to_string(figures.files) + (figures.files == 1 ? " file" : " files");
    if (figures.bytesDone < figures.bytesTotal && figures.secondsLeft >= 0) {
        const std::int64_t minutes = (figures.secondsLeft + 59) / 60;
        if (figures.secondsLeft < 60) {
            line += ", less than a minute left";
        } else if (minutes < 60) {
            line += ", about " + std::to_string(minutes) + " min left";
        } else {
            line += ", about " + std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) +
                    " min left";
        }
    }
    return line;
}

} // namespace morrow
