// The message frame (CommandHeader) and the writer through which handlers
// build replies in the connection's buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "protocol/wire.h"

namespace vesk {

inline constexpr std::size_t kHeaderSize = 16;
inline constexpr std::size_t kMessageBufferSize = 1024;
inline constexpr std::size_t kMaxBodySize = kMessageBufferSize - kHeaderSize;

// CommandHeader: offsets of its fields, all big-endian.
namespace header {
inline constexpr std::size_t kLength = 0;    // u16: total size, header included
inline constexpr std::size_t kMagic = 2;     // 4 bytes, "BS!a" in replies
inline constexpr std::size_t kCode = 6;      // 4 ASCII letters
inline constexpr std::size_t kStatus = 10;   // s16; byte 10 ends the code string
inline constexpr std::size_t kReserved = 12; // 4 bytes, echoed
}  // namespace header

inline constexpr std::uint8_t kReplyMagic[4] = {0x42, 0x53, 0x21, 0x61};  // "BS!a"
inline constexpr std::int16_t kStatusFailed = -1;
// What a client turned away for want of a free slot receives instead of a
// reply, before the connection is closed.
inline constexpr char kRefusalText[] = "SRV ERR\r\n";

// A request or reply in a connection's 1024-byte message buffer. Handlers
// read request fields at fixed body offsets and write the reply in place.
// Reads and writes are bounded by the buffer, whatever a request's length.
class Message {
 public:
  Message(std::uint8_t* header, std::uint8_t* body) : header_(header), body_(body) {}

  std::uint16_t Length() const { return ReadU16(header_ + header::kLength); }
  std::int16_t Status() const { return ReadS16(header_ + header::kStatus); }

  std::uint8_t* Body() { return body_; }
  const std::uint8_t* Body() const { return body_; }

  template <std::size_t Offset>
  std::uint16_t BodyU16() const {
    static_assert(Offset + 2 <= kMaxBodySize);
    return ReadU16(body_ + Offset);
  }
  template <std::size_t Offset>
  std::int16_t BodyS16() const {
    static_assert(Offset + 2 <= kMaxBodySize);
    return ReadS16(body_ + Offset);
  }
  template <std::size_t Offset>
  std::int32_t BodyS32() const {
    static_assert(Offset + 4 <= kMaxBodySize);
    return ReadS32(body_ + Offset);
  }
  template <std::size_t Offset>
  float BodyFloat() const {
    static_assert(Offset + 4 <= kMaxBodySize);
    return FloatFromWire(body_ + Offset);
  }
  // A NUL-terminated text at a body offset, bounded by the received body
  // (and the buffer): returns nullptr when no terminator lies within.
  template <std::size_t Offset>
  const char* BodyText(std::size_t maxBytes = kMaxBodySize - Offset) const {
    static_assert(Offset < kMaxBodySize);
    std::size_t received = Length() > kHeaderSize ? Length() - kHeaderSize : 0;
    std::size_t limit = received > Offset ? received - Offset : 0;
    if (limit > maxBytes) limit = maxBytes;
    if (limit > kMaxBodySize - Offset) limit = kMaxBodySize - Offset;
    const void* end = std::memchr(body_ + Offset, '\0', limit);
    return end != nullptr ? reinterpret_cast<const char*>(body_ + Offset) : nullptr;
  }

  void SetStatus(std::int16_t status) { WriteS16(header_ + header::kStatus, status); }
  // Sets magic and length = 16 + bodySize; the body is left as it is.
  void Finish(std::size_t bodySize) {
    std::memcpy(header_ + header::kMagic, kReplyMagic, sizeof kReplyMagic);
    WriteU16(header_ + header::kLength, static_cast<std::uint16_t>(kHeaderSize + bodySize));
  }

 private:
  std::uint8_t* header_;
  std::uint8_t* body_;
};

// A reply body of fixed size N, zeroed at construction; field offsets are
// checked at compile time, so a record cannot be written past its end.
template <std::size_t N>
class ReplyRecord {
  static_assert(N <= kMaxBodySize, "every reply fits the message buffer");

 public:
  static constexpr std::size_t kSize = N;

  template <std::size_t Offset>
  void U16(std::uint16_t v) {
    static_assert(Offset + 2 <= N);
    WriteU16(bytes_ + Offset, v);
  }
  template <std::size_t Offset>
  void S16(std::int16_t v) {
    static_assert(Offset + 2 <= N);
    WriteS16(bytes_ + Offset, v);
  }
  template <std::size_t Offset>
  void U32(std::uint32_t v) {
    static_assert(Offset + 4 <= N);
    WriteU32(bytes_ + Offset, v);
  }
  template <std::size_t Offset>
  void S32(std::int32_t v) {
    static_assert(Offset + 4 <= N);
    WriteS32(bytes_ + Offset, v);
  }
  template <std::size_t Offset>
  void Float(float v) {
    static_assert(Offset + 4 <= N);
    WireFloat wire = FloatToWire(v);
    std::memcpy(bytes_ + Offset, wire.data(), wire.size());
  }
  template <std::size_t Offset, std::size_t Count>
  void Bytes(const std::uint8_t* source) {
    static_assert(Offset + Count <= N);
    std::memcpy(bytes_ + Offset, source, Count);
  }

  // Fields at offsets known only at run time (loops over axes or items),
  // still bounded by the record: a write that would not fit is dropped.
  void SetBytes(std::size_t offset, const std::uint8_t* source, std::size_t count) {
    if (offset > N || count > N - offset) return;
    std::memcpy(bytes_ + offset, source, count);
  }
  void U16At(std::size_t offset, std::uint16_t v) {
    std::uint8_t word[2];
    WriteU16(word, v);
    SetBytes(offset, word, sizeof word);
  }
  void FloatAt(std::size_t offset, float v) {
    const WireFloat wire = FloatToWire(v);
    SetBytes(offset, wire.data(), wire.size());
  }

  // Copies the record over the body and sets magic and length.
  void CommitTo(Message& message) const {
    std::memcpy(message.Body(), bytes_, N);
    message.Finish(N);
  }
  const std::uint8_t* Data() const { return bytes_; }

 private:
  std::uint8_t bytes_[N] = {};
};

}  // namespace vesk
