#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace morrow::box {

// What Morrow and its worker processes say to each other: frames of a five-byte head (the body's
// length, little-endian, then the message) and a body of numbers and texts. The parent asks, the
// worker answers; while it answers a file-system request the worker asks for evidence bytes.
enum class Message : std::uint8_t {
    Check = 1,           // parent: kind id (u32), then the carved file's bytes
    Verdict = 2,         // worker: state (u8), fault (text)
    ReadFileSystems = 3, // parent: the evidence's size (u64)
    ReadEvidence = 4,    // worker: offset (u64), length (u32)
    EvidenceBytes = 5,   // parent: the bytes, fewer at the evidence's end or where a read failed
    FileSystems = 6,     // worker: the allocation map (text), the notes for the examiner (text)
    Picture = 7,         // parent: side (u32), then a file's bytes; worker: width, height (u32), RGBA
    Failed = 8,          // worker: why the request could not be served (text)
    CheckFile = 9,       // parent: kind id (u32), size (u64); the carved file itself rides along
};

inline constexpr std::size_t headBytes = 5;
// The largest body either side accepts: a carved file as the checks take it (256 MiB) or a large
// allocation map, with room to spare. A head that claims more ends the exchange.
inline constexpr std::uint32_t maxBodyBytes = std::uint32_t{1} << 30;

std::array<unsigned char, headBytes> head(Message message, std::size_t bodyBytes);
// False when the head names no message or too long a body.
bool readHead(const unsigned char* bytes, Message& message, std::uint32_t& bodyBytes);

class BodyWriter {
  public:
    BodyWriter& u8(std::uint8_t value);
    BodyWriter& u32(std::uint32_t value);
    BodyWriter& u64(std::uint64_t value);
    // A u32 length, then the bytes.
    BodyWriter& text(std::string_view value);
    BodyWriter& raw(std::string_view value);
    std::string& bytes() { return bytes_; }

  private:
    std::string bytes_;
};

// Reads a body front to back. A read past its end gives zeros and an empty text and marks the
// reader failed (ok() false): the caller checks once, at the end.
class BodyReader {
  public:
    explicit BodyReader(std::string_view body) : body_(body) {}
    std::uint8_t u8();
    std::uint32_t u32();
    std::uint64_t u64();
    std::string_view text();
    std::string_view rest();
    bool ok() const { return ok_; }

  private:
    bool take(std::size_t length, std::string_view& out);
    std::string_view body_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

} // namespace morrow::box
