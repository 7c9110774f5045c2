#include "box/WorkerBox.h"

#include "box/Worker.h"

#include <cstdlib>

namespace morrow::box {

WorkerBox::Answer WorkerBox::ended(ChildProcess::Io io) {
    Answer answer;
    std::unique_ptr<ChildProcess> gone;
    {
        std::lock_guard<std::mutex> hold(lock_);
        gone = std::move(child_);
    }
    if (cancelled_ || io == ChildProcess::Io::Stopped) {
        answer.outcome = Outcome::Stopped;
    } else if (io == ChildProcess::Io::TimedOut) {
        answer.outcome = Outcome::TimedOut;
    } else {
        answer.outcome = Outcome::Failed;
    }
    if (gone) {
        gone->kill();
        if (answer.outcome == Outcome::Failed) {
            answer.why = gone->ending();
        }
    }
    return answer;
}

WorkerBox::Answer WorkerBox::send(Message message, const std::vector<std::string_view>& parts,
                                  Clock::time_point deadline, const ChildProcess::GiveUp& giveUp) {
    bool opened = false;
    return sendWithFile(message, parts, {}, opened, deadline, giveUp);
}

WorkerBox::Answer WorkerBox::sendWithFile(Message message, const std::vector<std::string_view>& parts,
                                          const std::string& path, bool& opened, Clock::time_point deadline,
                                          const ChildProcess::GiveUp& giveUp) {
    opened = false;
    if (cancelled_) {
        return Answer{Outcome::Stopped, Message::Failed, {}, {}};
    }
    ChildProcess* child = nullptr;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!child_) {
            std::string error;
            child_ = ChildProcess::start({workerArgument, role_}, ChildProcess::Limits{memoryBytes_}, error);
            if (!child_) {
                return Answer{Outcome::Failed, Message::Failed, {}, "it could not be started: " + error};
            }
        }
        child = child_.get();
    }
    std::size_t length = 0;
    for (std::string_view part : parts) {
        length += part.size();
    }
    const auto bytes = head(message, length);
    ChildProcess::Io io = ChildProcess::Io::Done;
    if (path.empty()) {
        io = child->write(bytes.data(), bytes.size(), deadline, giveUp);
    } else {
        io = child->writeWithFile(bytes.data(), bytes.size(), path, opened, deadline, giveUp);
        if (!opened) {
            return Answer{Outcome::Replied, message, {}, {}};
        }
    }
    for (std::size_t i = 0; i < parts.size() && io == ChildProcess::Io::Done; ++i) {
        io = child->write(parts[i].data(), parts[i].size(), deadline, giveUp);
    }
    if (io != ChildProcess::Io::Done || cancelled_) {
        return ended(io);
    }
    return Answer{Outcome::Replied, message, {}, {}};
}

WorkerBox::Answer WorkerBox::receive(Clock::time_point deadline, const ChildProcess::GiveUp& giveUp,
                                     std::uint32_t maxBody) {
    ChildProcess* child = nullptr;
    {
        std::lock_guard<std::mutex> hold(lock_);
        child = child_.get();
    }
    if (child == nullptr || cancelled_) {
        return ended(ChildProcess::Io::Stopped);
    }
    unsigned char bytes[headBytes];
    ChildProcess::Io io = child->read(bytes, headBytes, deadline, giveUp);
    Answer answer;
    std::uint32_t bodyBytes = 0;
    if (io == ChildProcess::Io::Done &&
        (!readHead(bytes, answer.message, bodyBytes) || bodyBytes > maxBody)) {
        answer = ended(ChildProcess::Io::Closed);
        answer.why = "it broke the protocol";
        return answer;
    }
    if (io == ChildProcess::Io::Done) {
        answer.body.resize(bodyBytes);
        io = child->read(answer.body.data(), bodyBytes, deadline, giveUp);
    }
    if (io != ChildProcess::Io::Done || cancelled_) {
        return ended(io);
    }
    answer.outcome = Outcome::Replied;
    return answer;
}

double WorkerBox::secondsFromEnvironment(const char* name, double fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr) {
        return fallback;
    }
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    return end != text && value > 0 && value < 1e7 ? value : fallback;
}

void WorkerBox::reset() {
    std::unique_ptr<ChildProcess> gone;
    {
        std::lock_guard<std::mutex> hold(lock_);
        gone = std::move(child_); // killed by the cancel: the next exchange starts another
        cancelled_ = false;
    }
}

void WorkerBox::cancel() {
    cancelled_ = true;
    std::lock_guard<std::mutex> hold(lock_);
    if (child_) {
        child_->kill();
    }
}

} // namespace morrow::box
