#include "box/FileSystemBox.h"

#include "box/Worker.h"
#include "evidence/EvidenceSource.h"
#include "evidence/RawEvidence.h"
#include "volumes/FileSystemReader.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>

namespace morrow::box {

FileSystemBox::FileSystemBox() {
    baseSeconds = WorkerBox::secondsFromEnvironment("MORROW_FILE_SYSTEM_SECONDS", baseSeconds);
}

double FileSystemBox::budgetSeconds(std::uint64_t evidenceBytes) const {
    return baseSeconds + secondsPerGiB * static_cast<double>(evidenceBytes) / (1u << 30);
}

FileSystemBox::Outcome FileSystemBox::read(EvidenceSource& source, AllocationMap& map, std::string& notes,
                                           const std::function<bool()>& giveUp) {
    if (!workersServed()) {
        FileSystemReader::read(source, map, notes);
        return Outcome::Read;
    }
    const std::uint64_t size = source.size();
    const double budget = budgetSeconds(size);
    const auto deadline = WorkerBox::Clock::now() +
                          std::chrono::milliseconds(static_cast<long long>(std::min(budget, 1e9) * 1000));
    auto notRead = [&](const std::string& why) {
        map = AllocationMap{};
        map.seal();
        notes += "file systems not read: " + why + "; the whole image is carved\n";
        return Outcome::Read;
    };
    BodyWriter request;
    request.u64(size);
    // An image that is one plain file is handed over whole (where the system can); the worker
    // asks for the bytes of any other (split, E01, in memory) a read at a time.
    WorkerBox::Answer answer;
    bool opened = false;
    if (ChildProcess::passesFiles() && dynamic_cast<RawEvidence*>(&source) != nullptr) {
        answer = worker_.sendWithFile(Message::ReadFileSystems, {request.bytes()}, source.path(), opened,
                                      deadline, giveUp);
    }
    if (!opened) {
        answer = worker_.send(Message::ReadFileSystems, {request.bytes()}, deadline, giveUp);
    }
    std::unique_ptr<char[]> buffer;
    constexpr std::uint32_t largestRead = std::uint32_t{8} << 20;
    while (answer.outcome == WorkerBox::Outcome::Replied) {
        answer = worker_.receive(deadline, giveUp);
        if (answer.outcome != WorkerBox::Outcome::Replied || answer.message != Message::ReadEvidence) {
            break;
        }
        BodyReader in(answer.body);
        const std::uint64_t offset = in.u64();
        const std::uint32_t length = std::min(in.u32(), largestRead);
        std::size_t got = 0;
        if (in.ok() && offset < size) {
            if (!buffer) {
                buffer = std::make_unique<char[]>(largestRead);
            }
            got = source.read(offset, buffer.get(),
                              static_cast<std::size_t>(std::min<std::uint64_t>(length, size - offset)));
        }
        answer =
            worker_.send(Message::EvidenceBytes, {std::string_view(buffer.get(), got)}, deadline, giveUp);
    }
    switch (answer.outcome) {
    case WorkerBox::Outcome::Replied:
        break;
    case WorkerBox::Outcome::Stopped:
        map = AllocationMap{};
        map.seal();
        return Outcome::Stopped;
    case WorkerBox::Outcome::TimedOut:
        return notRead("the reading ran past " + std::to_string(std::llround(budget)) + " s");
    case WorkerBox::Outcome::Failed:
        return notRead("the reading failed: " + answer.why);
    }
    BodyReader in(answer.body);
    if (answer.message == Message::Failed) {
        return notRead("the reading failed: " + std::string(in.text()));
    }
    const std::string_view encoded = in.text();
    const std::string_view workerNotes = in.text();
    std::optional<AllocationMap> decoded;
    if (answer.message == Message::FileSystems && in.ok()) {
        decoded = AllocationMap::decode(encoded);
    }
    if (!decoded) {
        return notRead("the reading gave no map");
    }
    map = std::move(*decoded);
    notes += workerNotes;
    return Outcome::Read;
}

} // namespace morrow::box
