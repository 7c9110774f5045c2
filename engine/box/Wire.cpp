#include "box/Wire.h"

namespace morrow::box {

std::array<unsigned char, headBytes> head(Message message, std::size_t bodyBytes) {
    const auto length = static_cast<std::uint32_t>(bodyBytes);
    return {static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8),
            static_cast<unsigned char>(length >> 16), static_cast<unsigned char>(length >> 24),
            static_cast<unsigned char>(message)};
}

bool readHead(const unsigned char* bytes, Message& message, std::uint32_t& bodyBytes) {
    bodyBytes = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
                std::uint32_t{bytes[3]} << 24;
    if (bytes[4] < static_cast<unsigned char>(Message::Check) ||
        bytes[4] > static_cast<unsigned char>(Message::CheckFile) || bodyBytes > maxBodyBytes) {
        return false;
    }
    message = static_cast<Message>(bytes[4]);
    return true;
}

BodyWriter& BodyWriter::u8(std::uint8_t value) {
    bytes_.push_back(static_cast<char>(value));
    return *this;
}

BodyWriter& BodyWriter::u32(std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes_.push_back(static_cast<char>(value >> (8 * i)));
    }
    return *this;
}

BodyWriter& BodyWriter::u64(std::uint64_t value) {
    for (int i = 0; i < 8; ++i) {
        bytes_.push_back(static_cast<char>(value >> (8 * i)));
    }
    return *this;
}

BodyWriter& BodyWriter::text(std::string_view value) {
    u32(static_cast<std::uint32_t>(value.size()));
    return raw(value);
}

BodyWriter& BodyWriter::raw(std::string_view value) {
    bytes_.append(value);
    return *this;
}

bool BodyReader::take(std::size_t length, std::string_view& out) {
    if (!ok_ || body_.size() - at_ < length) {
        ok_ = false;
        out = {};
        return false;
    }
    out = body_.substr(at_, length);
    at_ += length;
    return true;
}

std::uint8_t BodyReader::u8() {
    std::string_view bytes;
    return take(1, bytes) ? static_cast<std::uint8_t>(bytes[0]) : 0;
}

std::uint32_t BodyReader::u32() {
    std::string_view bytes;
    std::uint32_t value = 0;
    if (take(4, bytes)) {
        for (int i = 3; i >= 0; --i) {
            value = value << 8 | static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
        }
    }
    return value;
}

std::uint64_t BodyReader::u64() {
    std::string_view bytes;
    std::uint64_t value = 0;
    if (take(8, bytes)) {
        for (int i = 7; i >= 0; --i) {
            value = value << 8 | static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
        }
    }
    return value;
}

std::string_view BodyReader::text() {
    const std::uint32_t length = u32();
    std::string_view bytes;
    take(length, bytes);
    return bytes;
}

std::string_view BodyReader::rest() {
    std::string_view bytes;
    take(body_.size() - at_, bytes);
    return bytes;
}

} // namespace morrow::box
