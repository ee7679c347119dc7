#include "link/reply.h"

#include <algorithm>

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

void ReplyCollector::Add(const std::uint8_t* bytes, int count) {
    reply_ += ReplyChunkText(bytes, std::max(count, 0));  // a failed read adds nothing
    if (!complete_) {
        complete_ = ReplyComplete(reply_, searchFrom_);
        searchFrom_ = std::max<long>(1, static_cast<long>(reply_.size()));
    }
}

Text ReplyChunkText(const std::uint8_t* bytes, int count) {
    return AnsiBytesToText(bytes, static_cast<int>(std::find(bytes, bytes + count, 0) - bytes));
}

}  // namespace taktor
