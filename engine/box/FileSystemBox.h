#pragma once

#include "box/Worker.h"
#include "box/WorkerBox.h"
#include "volumes/AllocationMap.h"

#include <cstdint>
#include <functional>
#include <string>

namespace morrow {

class EvidenceSource;

namespace box {

// The reading of an evidence image's partition tables and file systems (FileSystemReader, through
// libtsk) in a worker process: the worker asks for the evidence's bytes and opens nothing itself,
// and it has a budget in proportion to the evidence. A walk that runs past it, crashes or runs out
// of memory leaves the map empty, every byte unallocated and so carved, and says so in `notes`.
class FileSystemBox {
  public:
    FileSystemBox();

    enum class Outcome {
        Read,    // `map` holds what the worker found (perhaps nothing), `notes` what it could not read
        Stopped, // `giveUp` said so: the worker was killed and `map` is empty
    };
    // Fills `map` (sealed on return) as FileSystemReader::read does. `giveUp` is asked about ten
    // times a second.
    Outcome read(EvidenceSource& source, AllocationMap& map, std::string& notes,
                 const std::function<bool()>& giveUp);

    // `baseSeconds`, and `secondsPerGiB` for each GiB of evidence. The environment's
    // MORROW_FILE_SYSTEM_SECONDS, where set, replaces the base.
    double budgetSeconds(std::uint64_t evidenceBytes) const;
    double baseSeconds = 10;
    double secondsPerGiB = 60;

  private:
    WorkerBox worker_{roleFileSystems};
};

} // namespace box

} // namespace morrow
