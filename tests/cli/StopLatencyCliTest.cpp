// Ctrl-C and SIGTERM answered within a second whatever phase the run is in: morrow-cli started on
// an image built to make one phase long, signalled once it is well into that phase, must be gone
// soon after, as a partial run (exit status 1, the DFXML report saying incomplete).
#include "TestSupport.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <string>
#include <sys/types.h>
#include <thread>
#include <unistd.h>

using namespace morrow;
using namespace morrow::test;

namespace {

constexpr std::uint64_t MiB = std::uint64_t{1} << 20;

// What the process has read so far through read and pread (holes included): where its run is.
std::uint64_t bytesRead(pid_t pid) {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") {
            return value;
        }
    }
    return 0;
}

void writeAt(int fd, std::uint64_t at, const std::string& bytes) {
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(at)),
              static_cast<ssize_t>(bytes.size()));
}

// 10000 small JPEG files, one every two sectors, then 4 GiB of sparse space the scan must read (a
// byte in every block). A scan stopped past the files once carved every one of them before the
// run ended: seconds of writing after the stop.
void headersThenLongScan(const std::string& path) {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const std::string jpeg = fixture("photo-jfif.jpg");
    ASSERT_LE(jpeg.size(), 1024u);
    std::string files(10000 * 1024, '\0');
    for (std::size_t i = 0; i < 10000; ++i) {
        files.replace(i * 1024, jpeg.size(), jpeg);
    }
    writeAt(fd, 0, files);
    for (std::uint64_t at = 16 * MiB; at < 4096 * MiB; at += MiB) {
        writeAt(fd, at, "\x01");
    }
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(4096 * MiB)), 0);
    ::close(fd);
}

// A movie whose media data box takes the whole 1 GiB image (sparse): exact ends carve it whole,
// and with a DFXML report its copy goes through the run's hashing.
void hugeMovie(const std::string& path) {
    const std::string clip = fixture("clip-faststart.mp4");
    std::string head = clip;
    const std::uint64_t mdat = 1024 * MiB - 4096;
    head.replace(855, 4, be32(static_cast<std::uint32_t>(mdat)));
    ASSERT_EQ(head.substr(859, 4), "mdat");
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    writeAt(fd, 0, head);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(1024 * MiB)), 0);
    ::close(fd);
}

struct PhaseRow {
    const char* name;
    int signal;
    std::vector<std::string> args;
    void (*build)(const std::string& path);
    // The signal goes once the run has read this much (a scan passes holes over unread, so
    // what the movie's image makes read is its copy).
    std::uint64_t readBefore;
    bool dfxml;
};

class StopLatencyTest : public ::testing::TestWithParam<PhaseRow> {
  protected:
    TempDir tmp;
};

TEST_P(StopLatencyTest, SignalInThePhaseEndsTheRunWithinASecond) {
    const PhaseRow& row = GetParam();
    const std::string evidence = tmp / "disk.P01";
    row.build(evidence);
    if (HasFatalFailure()) {
        return;
    }
    std::vector<std::string> args = row.args;
    for (const std::string& more : {std::string("-o"), tmp / "out", evidence}) {
        args.push_back(more);
    }
    CliProcess cli(args);
    const std::uint64_t trigger = row.readBefore;
    const auto started = std::chrono::steady_clock::now();
    while (bytesRead(cli.pid()) < trigger &&
           std::chrono::steady_clock::now() - started < std::chrono::seconds(60)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_GE(bytesRead(cli.pid()), trigger) << "the run never reached the phase";
    const auto signalled = std::chrono::steady_clock::now();
    ::kill(cli.pid(), row.signal);
    const ChildResult result = cli.wait();
    const double latency =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count();
    std::cout << "[ latency  ] " << row.name << ": " << latency << " s\n";
    // Within a second, with room for a loaded machine.
    EXPECT_LT(latency, 3.0);
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_NE(result.out.find("Carving Completed Partially."), std::string::npos) << result.out;
    if (row.dfxml) {
        EXPECT_NE(readFile(tmp / "out/disk/disk~Report.dfxml").find("<run_status>incomplete</run_status>"),
                  std::string::npos);
    }
    // No file is carved after the stop, and none cut short is left under a carved file's name.
    std::vector<std::string> carved = listFolder(tmp / "out/disk");
    std::erase_if(carved, [](const std::string& name) { return name.find("~Report.") != std::string::npos; });
    EXPECT_TRUE(carved.empty()) << carved.size() << " carved, the first " << carved.front();
}

INSTANTIATE_TEST_SUITE_P(Phases, StopLatencyTest,
                         ::testing::Values(PhaseRow{"ScanThatFoundHeadersStopped",
                                                    SIGINT,
                                                    {"-y", "-q", "-t", "jpeg"},
                                                    headersThenLongScan,
                                                    64 * MiB,
                                                    false},
                                           PhaseRow{"ScanThatFoundHeadersQuit",
                                                    SIGTERM,
                                                    {"-y", "-q", "-t", "jpeg"},
                                                    headersThenLongScan,
                                                    64 * MiB,
                                                    false},
                                           PhaseRow{"HashingAHugeCarvedFile",
                                                    SIGTERM,
                                                    {"-y", "-q", "-x", "--dfxml", "-t", "mp4"},
                                                    hugeMovie,
                                                    96 * MiB,
                                                    true},
                                           PhaseRow{"HashingAHugeCarvedFileStopped",
                                                    SIGINT,
                                                    {"-y", "-q", "-x", "--dfxml", "-t", "mp4"},
                                                    hugeMovie,
                                                    96 * MiB,
                                                    true}),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
