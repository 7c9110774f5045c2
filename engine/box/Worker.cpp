#include "box/Worker.h"

#include "evidence/EvidenceSource.h"
#include "platform/ChildProcess.h"
#include "verify/FileCheck.h"
#include "volumes/FileSystemReader.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <thread>
#include <vector>

namespace morrow::box {

namespace {

std::array<Handler, 256>& handlers() {
    static std::array<Handler, 256> table;
    return table;
}

std::vector<std::function<void()>>& warmUps() {
    static std::vector<std::function<void()>> all;
    return all;
}

// A test's way to make a check fail as a library might. The environment's MORROW_TEST_CHECK_FAULT
// is "abort:", "hang:" or "hog:" and a prefix: the check of a file whose bytes start with it
// aborts the worker, never returns, or takes memory until none is left. MORROW_TEST_FILE_SYSTEM_FAULT
// ("abort", "hang" or "hog") does the same to the reading of file systems.
struct Fault {
    std::string what;
    std::string prefix;
};
Fault& testFault() {
    static Fault fault;
    return fault;
}

Fault& fileSystemFault() {
    static Fault fault;
    return fault;
}

void injectFault(const Fault& fault, std::string_view bytes) {
    if (fault.what.empty() || bytes.substr(0, fault.prefix.size()) != fault.prefix) {
        return;
    }
    if (fault.what == "abort") {
        std::abort();
    }
    if (fault.what == "hang") {
        while (true) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    }
    std::vector<std::unique_ptr<char[]>> hoard;
    while (true) {
        hoard.emplace_back(new char[std::size_t{64} << 20]);
        std::memset(hoard.back().get(), 1, std::size_t{64} << 20);
    }
}

bool check(std::string_view body, ParentPipes& pipes) {
    BodyReader in(body);
    const auto type = static_cast<FileTypeId>(in.u32());
    const std::string_view bytes = in.rest();
    if (!in.ok()) {
        return reply(pipes, Message::Failed, BodyWriter().text("a check without its kind").bytes());
    }
    injectFault(testFault(), bytes);
    const FileVerdict verdict = FileCheck::check(
        check::Bytes{reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()}, type);
    BodyWriter out;
    out.u8(static_cast<std::uint8_t>(verdict.state)).text(verdict.fault);
    return reply(pipes, Message::Verdict, out.bytes());
}

// A check of the file that came with the message: read here, into a buffer kept from file to file
// (a fresh one each time costs a page fault per page).
bool checkPassedFile(std::string_view body, ParentPipes& pipes) {
    BodyReader in(body);
    const auto type = static_cast<FileTypeId>(in.u32());
    const std::uint64_t size = in.u64();
    if (!in.ok() || size > check::maxFileBytes) {
        return reply(pipes, Message::Failed, BodyWriter().text("a check without its kind and size").bytes());
    }
    static std::unique_ptr<char[]> buffer;
    static std::size_t capacity = 0;
    const auto length = static_cast<std::size_t>(size);
    if (length > capacity || (capacity > (std::size_t{32} << 20) && length <= (std::size_t{32} << 20))) {
        buffer.reset();
        buffer.reset(new char[std::max<std::size_t>(length, 1)]);
        capacity = std::max<std::size_t>(length, 1);
    }
    FileVerdict verdict;
    if (!pipes.readPassedFile(buffer.get(), length)) {
        verdict = check::damaged("the carved file cannot be read back");
    } else {
        const std::string_view bytes(buffer.get(), length);
        injectFault(testFault(), bytes);
        verdict = FileCheck::check(check::Bytes{reinterpret_cast<const unsigned char*>(bytes.data()), length},
                                   type);
    }
    BodyWriter out;
    out.u8(static_cast<std::uint8_t>(verdict.state)).text(verdict.fault);
    return reply(pipes, Message::Verdict, out.bytes());
}

// The evidence as the parent hands it over, a read at a time: the worker opens nothing itself.
class EvidenceFromParent final : public EvidenceSource {
  public:
    EvidenceFromParent(ParentPipes& pipes, std::uint64_t size) : pipes_(pipes), size_(size) {}
    const std::string& path() const override { return path_; }
    std::uint64_t size() const override { return size_; }
    std::size_t read(std::uint64_t offset, void* out, std::size_t length) override {
        std::size_t delivered = 0;
        while (length > 0 && !gone_) {
            // Reads of libtsk are small; a large one goes across in pieces the parent will serve.
            const auto ask = static_cast<std::uint32_t>(std::min<std::size_t>(length, std::size_t{8} << 20));
            BodyWriter request;
            request.u64(offset).u32(ask);
            unsigned char headBytes_[headBytes];
            Message message{};
            std::uint32_t bodyBytes = 0;
            if (!reply(pipes_, Message::ReadEvidence, request.bytes()) ||
                !pipes_.read(headBytes_, headBytes) || !readHead(headBytes_, message, bodyBytes) ||
                message != Message::EvidenceBytes || bodyBytes > ask ||
                !pipes_.read(static_cast<char*>(out) + delivered, bodyBytes)) {
                gone_ = true; // the parent breaks the protocol or has gone: nothing more is read
                break;
            }
            delivered += bodyBytes;
            offset += bodyBytes;
            length -= bodyBytes;
            if (bodyBytes < ask) {
                break;
            }
        }
        return delivered;
    }

  private:
    ParentPipes& pipes_;
    std::uint64_t size_;
    std::string path_ = "evidence";
    bool gone_ = false;
};

// The evidence as a file handed over whole: the worker reads it where libtsk asks, without a
// round trip to the parent for every read.
class EvidenceInHand final : public EvidenceSource {
  public:
    EvidenceInHand(ParentPipes& pipes, std::uint64_t size) : pipes_(pipes), size_(size) {}
    const std::string& path() const override { return path_; }
    std::uint64_t size() const override { return size_; }
    std::size_t read(std::uint64_t offset, void* out, std::size_t length) override {
        std::size_t delivered = 0;
        while (delivered < length) {
            const long long got = pipes_.readKeptFile(offset + delivered, static_cast<char*>(out) + delivered,
                                                      length - delivered);
            if (got <= 0) {
                break;
            }
            delivered += static_cast<std::size_t>(got);
        }
        return delivered;
    }

  private:
    ParentPipes& pipes_;
    std::uint64_t size_;
    std::string path_ = "evidence";
};

bool readFileSystems(std::string_view body, ParentPipes& pipes) {
    BodyReader in(body);
    const std::uint64_t size = in.u64();
    if (!in.ok()) {
        return reply(pipes, Message::Failed,
                     BodyWriter().text("a file-system request without the evidence's size").bytes());
    }
    injectFault(fileSystemFault(), {});
    std::unique_ptr<EvidenceSource> evidence;
    if (pipes.keepPassedFile()) {
        evidence = std::make_unique<EvidenceInHand>(pipes, size);
    } else {
        evidence = std::make_unique<EvidenceFromParent>(pipes, size);
    }
    AllocationMap map;
    std::string notes;
    FileSystemReader::read(*evidence, map, notes);
    BodyWriter out;
    out.text(map.encode()).text(notes);
    return reply(pipes, Message::FileSystems, out.bytes());
}

// Before the worker is confined: what the libraries load or set up when first used (poppler's
// global tables, libtsk itself), so that it is in place when files can no longer be opened.
void warmUp(const std::string& role) {
    if (role == roleChecks) {
        static const unsigned char tinyPdf[] = "%PDF-1.0\n%%EOF\n";
        (void)FileCheck::check(check::Bytes{tinyPdf, sizeof tinyPdf - 1}, kind::Pdf);
    } else if (role == roleFileSystems) {
        (void)FileSystemReader::builtIn();
    } else {
        for (const auto& more : warmUps()) {
            more();
        }
    }
}

} // namespace

void addHandler(Message message, Handler handler, std::function<void()> warmUp) {
    handlers()[static_cast<std::size_t>(message)] = std::move(handler);
    if (warmUp) {
        warmUps().push_back(std::move(warmUp));
    }
}

bool reply(ParentPipes& pipes, Message message, std::string_view body) {
    const auto bytes = head(message, body.size());
    return pipes.write(bytes.data(), bytes.size()) && pipes.write(body.data(), body.size());
}

void serve(ParentPipes& pipes) {
    auto& table = handlers();
    if (!table[static_cast<std::size_t>(Message::Check)]) {
        table[static_cast<std::size_t>(Message::Check)] = check;
        table[static_cast<std::size_t>(Message::CheckFile)] = checkPassedFile;
        table[static_cast<std::size_t>(Message::ReadFileSystems)] = readFileSystems;
    }
    while (true) {
        unsigned char bytes[headBytes];
        Message message{};
        std::uint32_t bodyBytes = 0;
        if (!pipes.read(bytes, headBytes) || !readHead(bytes, message, bodyBytes)) {
            return;
        }
        std::string body;
        try {
            body.resize(bodyBytes);
        } catch (const std::bad_alloc&) {
            return; // the parent sees the pipe close and answers for the request
        }
        if (!pipes.read(body.data(), body.size())) {
            return;
        }
        const Handler& handler = table[static_cast<std::size_t>(message)];
        bool going = false;
        try {
            going = handler ? handler(body, pipes)
                            : reply(pipes, Message::Failed, BodyWriter().text("not a request").bytes());
        } catch (const std::bad_alloc&) {
            going = reply(pipes, Message::Failed,
                          BodyWriter().text("it needed more memory than it may use").bytes());
        } catch (const std::exception& e) {
            going = reply(pipes, Message::Failed, BodyWriter().text(e.what()).bytes());
        }
        if (!going) {
            return;
        }
    }
}

namespace {
std::atomic<bool> served{false};
} // namespace

bool workersServed() {
    return served.load();
}

void serveIfAsked(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], workerArgument) != 0) {
        served = true;
        return;
    }
    std::unique_ptr<ParentPipes> pipes = ParentPipes::take();
    if (!pipes) {
        std::_Exit(2);
    }
    if (const char* fault = std::getenv("MORROW_TEST_CHECK_FAULT"); fault != nullptr) {
        const std::string text = fault;
        const std::size_t colon = text.find(':');
        if (colon != std::string::npos) {
            testFault() = Fault{text.substr(0, colon), text.substr(colon + 1)};
        }
    }
    if (const char* fault = std::getenv("MORROW_TEST_FILE_SYSTEM_FAULT"); fault != nullptr) {
        fileSystemFault() = Fault{fault, {}};
    }
    warmUp(argc > 2 ? argv[2] : "");
    std::string why;
    (void)confineWorker(why); // where the system cannot confine, the limits still hold
    serve(*pipes);
    std::_Exit(0);
}

} // namespace morrow::box
