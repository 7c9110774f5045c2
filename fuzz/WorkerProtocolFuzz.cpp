// A worker process's side of the protocol over fuzzed frames from its parent: checks of any kind,
// file-system requests whose evidence bytes come from the frames that follow, and heads that lie.
// Whatever comes, the worker answers in whole frames or stops; it never crashes.
#include "FuzzSupport.h"
#include "box/Worker.h"
#include "platform/ChildProcess.h"

#include <cstring>

using namespace morrow;

namespace {

// The parent as the input plays it: reads take the input's bytes in turn; what the worker writes
// is checked to be whole frames.
class FuzzedParent final : public ParentPipes {
  public:
    FuzzedParent(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool read(void* out, std::size_t length) override {
        if (size_ - at_ < length) {
            return false;
        }
        std::memcpy(out, data_ + at_, length);
        at_ += length;
        return true;
    }
    bool write(const void* data, std::size_t length) override {
        written_.append(static_cast<const char*>(data), length);
        return true;
    }
    void checkFrames() const {
        std::size_t at = 0;
        while (at < written_.size()) {
            box::Message message{};
            std::uint32_t body = 0;
            fuzz::check(written_.size() - at >= box::headBytes &&
                            box::readHead(reinterpret_cast<const unsigned char*>(written_.data() + at),
                                          message, body),
                        "the worker wrote a broken head");
            at += box::headBytes;
            fuzz::check(written_.size() - at >= body, "the worker wrote a frame short of its body");
            at += body;
        }
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
    std::string written_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedParent parent(data, size);
    box::serve(parent);
    parent.checkFrames();
    return 0;
}
