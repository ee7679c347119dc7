// The controller's reply: the bytes of each read turned into text, and the tokens the text
// carries.
#pragma once

#include <cstdint>

#include "common/text.h"

namespace taktor {

// The tokens, matched case-sensitively anywhere in the reply text.
constexpr char16_t kReplyTerminator[] = u"#\r";      // the reply is complete
constexpr char16_t kConfirmToken[] = u"on#";         // the controller took the durations
constexpr char16_t kMcuDamageToken[] = u"os#";       // its microcontroller's EEPROM is damaged
constexpr char16_t kExternalDamageToken[] = u"ol#";  // its external EEPROM is damaged

// What a reply text says.
struct ReplyTokens {
    bool confirmed = false;
    bool mcuDamaged = false;
    bool externalDamaged = false;
};

ReplyTokens ReadReplyTokens(const Text& reply);

// True when the terminator begins at or after the 1-based position from in the reply.
bool ReplyComplete(const Text& reply, long from = 1);

// The reply as it arrives, chunk by chunk: each chunk's text is appended, and the terminator is
// found also when its "#" ends one chunk and its carriage return begins the next. Searching on
// from the end of the last chunk keeps a long reply from being searched again at every chunk.
class ReplyCollector {
public:
    explicit ReplyCollector(Text& reply) : reply_(reply) { reply_.clear(); }

    // Appends the text of one chunk of bytes read (ReplyChunkText).
    void Add(const std::uint8_t* bytes, int count);
    // The whole reply so far holds the terminator.
    bool Complete() const { return complete_; }

private:
    Text& reply_;
    long searchFrom_ = 1;  // no terminator starts before this position
    bool complete_ = false;
};

// The text one chunk of reply bytes adds: the bytes up to the first zero byte, through the
// system's 8-bit code page.
Text ReplyChunkText(const std::uint8_t* bytes, int count);

// The platform's 8-bit code page conversion, one character per byte for ASCII: the ANSI code
// page on Windows, Windows-1251 elsewhere.
Text AnsiBytesToText(const std::uint8_t* bytes, int count);

}  // namespace taktor
