#include "box/CheckBox.h"

#include "box/Worker.h"
#include "verify/FileCheck.h"

#include <cmath>
#include <cstdlib>

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
    if (const char* text = std::getenv("MORROW_CHECK_SECONDS"); text != nullptr) {
        char* end = nullptr;
        const double value = std::strtod(text, &end);
        if (end != text && value > 0 && value < 1e6) {
            baseSeconds = value;
        }
    }
}

double CheckBox::budgetSeconds(std::uint64_t bytes) const {
    return baseSeconds + secondsPerMiB * static_cast<double>(bytes) / (1 << 20);
}

FileVerdict CheckBox::check(const CarvedFile& file) {
    return checkFile(file.path, file.type);
}

FileVerdict CheckBox::checkFile(const std::string& path, FileTypeId type) {
    if (!workersServed()) {
        return FileCheck::checkFile(path, type);
    }
    return FileCheck::checkFile(path, type, [&](check::Bytes bytes, FileTypeId kind) {
        if (worker_.cancelled()) {
            return check::notChecked("the run was stopped before its check");
        }
        const double budget = budgetSeconds(bytes.size);
        const auto deadline =
            WorkerBox::Clock::now() + std::chrono::milliseconds(static_cast<long long>(budget * 1000));
        BodyWriter prefix;
        prefix.u32(static_cast<std::uint32_t>(kind));
        WorkerBox::Answer answer = worker_.send(
            Message::Check,
            {prefix.bytes(), std::string_view(reinterpret_cast<const char*>(bytes.data), bytes.size)},
            deadline, {});
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
    });
}

} // namespace morrow::box
