// The checks of carved files run in a worker process: a check that crashes, hangs or takes memory
// without end costs that file's verdict, named, and the next file is checked as before; a stop
// ends the check in hand at once.
#include "box/CheckBox.h"
#include "TestSupport.h"
#include "verify/FileCheck.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <thread>

using namespace morrow;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool memoryCapped = false; // the sanitizer's shadow needs the address space uncapped
#else
constexpr bool memoryCapped = true;
#endif

// The worker reads its faults from the environment when it starts, and a box starts its worker
// at its first check.
class FaultEnvironment {
  public:
#ifdef _WIN32
    explicit FaultEnvironment(const std::string& fault) {
        ::_putenv_s("MORROW_TEST_CHECK_FAULT", fault.c_str());
    }
    ~FaultEnvironment() {
        ::_putenv_s("MORROW_TEST_CHECK_FAULT", "");
    }
#else
    explicit FaultEnvironment(const std::string& fault) {
        ::setenv("MORROW_TEST_CHECK_FAULT", fault.c_str(), 1);
    }
    ~FaultEnvironment() {
        ::unsetenv("MORROW_TEST_CHECK_FAULT");
    }
#endif
};

std::string said(const FileVerdict& verdict) {
    const char* state = verdict.state == FileVerdict::State::Opens     ? "opens"
                        : verdict.state == FileVerdict::State::Damaged ? "damaged"
                                                                       : "not checked";
    return verdict.fault.empty() ? state : std::string(state) + ": " + verdict.fault;
}

struct FaultCase {
    const char* fault;
    const char* verdict; // a regular expression
    bool needsMemoryCap;
};

TEST(CheckBoxTest, AFaultInOneCheckCostsThatVerdictAndNothingElse) {
    const FaultCase cases[] = {
        // abort() ends a process with SIGABRT, or on Windows with status 3.
        {"abort:BM", "not checked: the check failed: it (was killed by signal 6 .*|exited with status 3)",
         false},
        {"hang:BM", "not checked: the check ran past 1 s", false},
        {"hog:BM", "not checked: the check (failed: it needed more memory than it may use|ran past 1 s)",
         true},
    };
    test::TempDir dir;
    const std::string bmp = dir / "picture.bmp";
    const std::string png = dir / "picture.png";
    test::writeFile(bmp, test::fixture("bitmap40.bmp"));
    test::writeFile(png, test::fixture("image.png"));
    const FileVerdict pngAlone = FileCheck::checkFile(png, kind::Png);
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.fault);
        if (c.needsMemoryCap && !memoryCapped) {
            continue;
        }
        FaultEnvironment fault(c.fault);
        box::CheckBox box;
        box.baseSeconds = 1;
        box.secondsPerMiB = 0;
        const auto began = std::chrono::steady_clock::now();
        EXPECT_TRUE(std::regex_match(said(box.checkFile(bmp, kind::Bmp)), std::regex(c.verdict)))
            << said(box.checkFile(bmp, kind::Bmp));
        EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(20));
        // The next file is checked by a worker of its own, as it would have been in the run's own
        // process.
        EXPECT_EQ(said(box.checkFile(png, kind::Png)), said(pngAlone));
        EXPECT_EQ(said(box.checkFile(dir / "missing.bmp", kind::Bmp)),
                  "damaged: the carved file cannot be read back");
    }
}

TEST(CheckBoxTest, ACancelEndsTheCheckInHandAtOnceAndTheOnesAfterIt) {
    test::TempDir dir;
    const std::string bmp = dir / "picture.bmp";
    test::writeFile(bmp, test::fixture("bitmap40.bmp"));
    FaultEnvironment fault("hang:BM");
    box::CheckBox box;
    box.baseSeconds = 60;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        box.cancel();
    });
    const auto began = std::chrono::steady_clock::now();
    const FileVerdict verdict = box.checkFile(bmp, kind::Bmp);
    const auto took = std::chrono::steady_clock::now() - began;
    stopper.join();
    EXPECT_EQ(said(verdict), "not checked: the run was stopped before its check ended");
    EXPECT_LT(took, std::chrono::seconds(3));
    EXPECT_EQ(said(box.checkFile(bmp, kind::Bmp)), "not checked: the run was stopped before its check");
}

} // namespace
