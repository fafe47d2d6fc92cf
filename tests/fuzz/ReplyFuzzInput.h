#pragma once

// The input of the reply-reading target: a plan of how the reply arrives, then
// the reply itself. The seed generator writes inputs in this form and the
// target reads them back; any bytes at all make a valid input.
//
//   byte 0        the plan: bits 0-3 give the number of cuts (0-15); bit 4
//                 says that the last piece arrives together with the close,
//                 with no notification of its own; bits 5-7 all set ask for
//                 filler (below)
//   2 bytes each  the cuts, low byte first: offsets into the reply (taken
//                 modulo its length + 1) at which one read ends and the next
//                 begins, in any order
//   1 byte        with filler only: d = (byte % 9) - 4
//   the rest      the reply
//
// Filler: the reply is followed by bytes "x", arriving as a read of their
// own, so many that read in one piece its body is kMaxBodyBytes + d bytes
// long (none when the reply alone is longer), to try the cap on the body
// from both sides.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace halvoric::fuzz {

struct ReplyPlan {
    std::vector<std::uint16_t> cuts;
    bool lastArrivesWithClose = false;
    std::optional<int> filler;  // d, from -4 to 4
    std::string reply;
};

inline constexpr std::uint8_t kFillerBits = 0xE0;

inline ReplyPlan DecodeReplyPlan(std::string_view input) {
    ReplyPlan plan;
    std::size_t at = 0;
    const auto next = [&]() -> std::uint8_t {
        return at < input.size() ? static_cast<std::uint8_t>(input[at++]) : 0;
    };
    const std::uint8_t head = next();
    const int cuts = head & 0x0F;
    plan.lastArrivesWithClose = (head & 0x10) != 0;
    for (int index = 0; index < cuts; ++index) {
        const std::uint8_t low = next();
        plan.cuts.push_back(static_cast<std::uint16_t>(low | next() << 8));
    }
    if ((head & kFillerBits) == kFillerBits) plan.filler = next() % 9 - 4;
    plan.reply = std::string(input.substr(std::min(at, input.size())));
    return plan;
}

inline std::string EncodeReplyPlan(const ReplyPlan& plan) {
    std::string input(1, static_cast<char>((plan.cuts.size() & 0x0F) | (plan.lastArrivesWithClose ? 0x10 : 0) |
                                           (plan.filler ? kFillerBits : 0)));
    for (std::size_t index = 0; index < plan.cuts.size() && index < 15; ++index) {
        input += static_cast<char>(plan.cuts[index] & 0xFF);
        input += static_cast<char>(plan.cuts[index] >> 8);
    }
    if (plan.filler) input += static_cast<char>(*plan.filler + 4);
    return input + plan.reply;
}

}  // namespace halvoric::fuzz
