#include "box/CheckBox.h"

#include "box/Worker.h"
#include "verify/FileCheck.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace morrow::box {

namespace {

// "1.5 s", "12 s".
std::string seconds(double value) {
    if (value < 10) {
        const long long tenths = std::llround(value * 10);
        return std::to_string(tenths / 10) + (tenths % 10 != 0 ? "." + std::to_string(tenths % 10) : "") +
               " s";
    }
    return std::to_string(std::llround(value)) + " s";
}

} // namespace

CheckBox::CheckBox() {
    baseSeconds = WorkerBox::secondsFromEnvironment("MORROW_CHECK_SECONDS", baseSeconds);
}

double CheckBox::budgetSeconds(std::uint64_t bytes) const {
    return baseSeconds + secondsPerMiB * static_cast<double>(bytes) / (1 << 20);
}

FileVerdict CheckBox::check(const CarvedFile& file) {
    return checkFile(file.path, file.type);
}

FileVerdict CheckBox::exchange(const std::vector<std::string_view>& parts, Message message,
                               const std::string& path, std::uint64_t bytes) {
    if (worker_.cancelled()) {
        return check::notChecked("the run was stopped before its check");
    }
    const double budget = budgetSeconds(bytes);
    const auto deadline =
        WorkerBox::Clock::now() + std::chrono::milliseconds(static_cast<long long>(budget * 1000));
    bool opened = true;
    WorkerBox::Answer answer = path.empty()
                                   ? worker_.send(message, parts, deadline, {})
                                   : worker_.sendWithFile(message, parts, path, opened, deadline, {});
    if (!opened) {
        return check::damaged("the carved file cannot be read back");
    }
    if (answer.outcome == WorkerBox::Outcome::Replied) {
        answer = worker_.receive(deadline, {}, std::uint32_t{1} << 20);
    }
    switch (answer.outcome) {
    case WorkerBox::Outcome::Replied:
        break;
    case WorkerBox::Outcome::TimedOut:
        return check::notChecked("the check ran past " + seconds(budget));
    case WorkerBox::Outcome::Stopped:
        return check::notChecked("the run was stopped before its check ended");
    case WorkerBox::Outcome::Failed:
        return check::notChecked("the check failed: " + answer.why);
    }
    BodyReader in(answer.body);
    if (answer.message == Message::Failed) {
        return check::notChecked("the check failed: " + std::string(in.text()));
    }
    const std::uint8_t state = in.u8();
    const std::string_view fault = in.text();
    if (answer.message != Message::Verdict || !in.ok() ||
        state > static_cast<std::uint8_t>(FileVerdict::State::Damaged)) {
        return check::notChecked("the check gave no verdict");
    }
    return FileVerdict{static_cast<FileVerdict::State>(state), std::string(fault)};
}

FileVerdict CheckBox::checkFile(const std::string& path, FileTypeId type) {
    if (!workersServed()) {
        return FileCheck::checkFile(path, type);
    }
    if (ChildProcess::passesFiles()) {
        // The worker reads the file itself, from the descriptor handed over: this process never does.
        if (!FileCheck::checks(type)) {
            return check::notChecked();
        }
        std::error_code error;
        const std::uintmax_t size =
            std::filesystem::file_size(std::filesystem::path(std::u8string(path.begin(), path.end())), error);
        if (error) {
            return check::damaged("the carved file cannot be read back");
        }
        if (size > check::maxFileBytes) {
            return check::notChecked();
        }
        BodyWriter head;
        head.u32(static_cast<std::uint32_t>(type)).u64(size);
        return exchange({head.bytes()}, Message::CheckFile, path, size);
    }
    return FileCheck::checkFile(path, type, [&](check::Bytes bytes, FileTypeId kind) {
        BodyWriter prefix;
        prefix.u32(static_cast<std::uint32_t>(kind));
        return exchange(
            {prefix.bytes(), std::string_view(reinterpret_cast<const char*>(bytes.data), bytes.size)},
            Message::Check, {}, bytes.size);
    });
}

} // namespace morrow::box
