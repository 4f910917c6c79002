// The last answer a link received, for reading its fields with bounds checks.
#pragma once

#include "base/answer_reader.h"
#include "link/phone_link.h"

namespace tr52 {

// The payload of the answer in the link's response buffer: the bytes its last wait kept
// (ResponseLength()) without their FCS. Empty when nothing was received.
inline AnswerReader LastAnswer(PhoneLink& link) {
  return AnswerReader::OfFrame(link.PacketBuffers().response, link.ResponseLength(),
                               PhoneLink::kBufferSize);
}

}  // namespace tr52
