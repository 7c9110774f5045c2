#pragma once

#include "box/Worker.h"
#include "box/WorkerBox.h"
#include "output/CarvedFile.h"
#include "output/FileVerdict.h"

#include <string>

namespace morrow::box {

// The checks of carved files (--verify, the gallery's), each in a worker process with a budget:
// a library that crashes, hangs or swallows memory on one file costs that file's verdict ("not
// checked", saying why) and nothing else. The worker lives from file to file.
class CheckBox {
  public:
    CheckBox();

    // Reads the file back and has the worker check it, within the file's budget.
    FileVerdict check(const CarvedFile& file);
    FileVerdict checkFile(const std::string& path, FileTypeId type);
    // From any thread: the check in hand ends now, and the ones after it are not made.
    void cancel() { worker_.cancel(); }
    // Checks again after a cancel.
    void reset() { worker_.reset(); }

    // The budget of one file: `baseSeconds`, and `secondsPerMiB` for each MiB of it. The
    // environment's MORROW_CHECK_SECONDS, where set, replaces the base (tests and slow machines).
    double budgetSeconds(std::uint64_t bytes) const;
    double baseSeconds = 10;
    double secondsPerMiB = 0.5;

  private:
    // One check sent and its verdict taken back, within the budget of `bytes`.
    FileVerdict exchange(const std::vector<std::string_view>& parts, Message message, const std::string& path,
                         std::uint64_t bytes);
    WorkerBox worker_{roleChecks};
};

} // namespace morrow::box
