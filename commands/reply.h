// The answers every handler gives: each sets the reply's status, magic and
// length together, so that no handler writes them by hand. The status of a
// success is the reply body's size, except where a helper says otherwise;
// a failure's is -1. The length is the command's one fixed reply length
// whatever the outcome.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/message.h"

namespace vesk {

// What a success reports in the status field.
enum class OnSuccess : std::uint8_t {
  kBodySize,
  kZero,
  kStatusUnchanged,  // the request's own two status bytes go back
};

// A record the handler has built: readings already taken, a fixed answer,
// or zeros left on failure.
template <std::size_t N>
void AnswerRecord(Message& message, bool accepted, const ReplyRecord<N>& record,
                  OnSuccess onSuccess = OnSuccess::kBodySize) {
  if (!accepted) {
    message.SetStatus(kStatusFailed);
  } else if (onSuccess == OnSuccess::kBodySize) {
    message.SetStatus(static_cast<std::int16_t>(N));
  } else if (onSuccess == OnSuccess::kZero) {
    message.SetStatus(0);
  }
  record.CommitTo(message);
}

// Readings taken after the attempt, whatever its outcome. The reader is
// passed rather than its record so that the readings are surely taken after
// the action that decided `accepted`: the order in which a call's arguments
// are evaluated is unspecified.
template <typename ReadReply>
void AnswerWith(Message& message, bool accepted, ReadReply readReply) {
  AnswerRecord(message, accepted, readReply());
}

// Readings on success; on failure nothing is read and the body goes back as
// it was received, though as long as a success's.
template <typename ReadReply>
void AnswerReadings(Message& message, bool accepted, ReadReply readReply) {
  if (accepted) {
    AnswerWith(message, true, readReply);
    return;
  }
  message.SetStatus(kStatusFailed);
  message.Finish(decltype(readReply())::kSize);
}

// The request's first bodySize bytes go back as they are; status 0 on
// success. With bodySize 0 this is a bare header.
inline void AnswerEcho(Message& message, bool accepted, std::size_t bodySize) {
  message.SetStatus(accepted ? 0 : kStatusFailed);
  message.Finish(bodySize);
}

// A bare header: status 0 on success, no body.
inline void AnswerHeader(Message& message, bool accepted) { AnswerEcho(message, accepted, 0); }

// A body of N bytes that holds one 16-bit word at Offset, zeros elsewhere.
template <std::size_t N, std::size_t Offset>
ReplyRecord<N> WordRecord(std::uint16_t value) {
  ReplyRecord<N> record;
  record.template U16<Offset>(value);
  return record;
}

// A body of one 16-bit word.
inline ReplyRecord<2> Word(std::uint16_t value) { return WordRecord<2, 0>(value); }

}  // namespace vesk
