#include "link/reply.h"

namespace taktor {

ReplyTokens ReadReplyTokens(const Text& reply) {
    ReplyTokens tokens;
    tokens.confirmed = CountText(reply, kConfirmToken) > 0;
    tokens.mcuDamaged = CountText(reply, kMcuDamageToken) > 0;
    tokens.externalDamaged = CountText(reply, kExternalDamageToken) > 0;
    return tokens;
}

bool ReplyComplete(const Text& reply, long from) {
    return FindText(reply, kReplyTerminator, from) > 0;
}

Text ReplyChunkText(const std::uint8_t* bytes, int count) {
    int length = 0;
    while (length < count && bytes[length] != 0) {
        ++length;
    }
    return length == 0 ? Text() : AnsiBytesToText(bytes, length);
}

}  // namespace taktor
