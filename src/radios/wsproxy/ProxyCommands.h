#pragma once
// The proxy server's JSON protocol: the commands this radio sends, written
// from fixed templates, and the one reply it understands.
#include <optional>
#include <string>
#include <string_view>

namespace ProxyCommands {

/// {"cmd":"addReceiver","ID":<radio>}: a new receiver on the server's radio.
std::string addReceiver(int radioId);
/// {"cmd":"subscribeToIQ","RxID":<receiver>,"Enable":true}
std::string subscribeToIQ(int receiverId);
/// {"cmd":"setFrequency","ID":<receiver>,"Frequency":<Hz>}
std::string setFrequency(int receiverId, long long frequency);

/// Replies nested deeper than this are refused before they are parsed: the
/// parser recurses once per level.
constexpr int maxReplyDepth = 32;

/// Reads a text message of the server. Returns the new receiver's id of an
/// "addReceiverResponse" and nothing for any other "cmd". Throws a
/// std::exception when the text is not a JSON object with a text "cmd", when
/// "ID" is missing or not an int, or when it nests deeper than maxReplyDepth.
std::optional<int> addReceiverResponse(std::string_view text);

} // namespace ProxyCommands
