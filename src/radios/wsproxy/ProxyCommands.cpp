#include "radios/wsproxy/ProxyCommands.h"

#include <boost/format.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <algorithm>
#include <charconv>
#include <sstream>
#include <stdexcept>

namespace ProxyCommands {

std::string addReceiver(int radioId) {
    return (boost::format(R"({"cmd":"addReceiver","ID":%1%})") % radioId).str();
}

std::string subscribeToIQ(int receiverId) {
    return (boost::format(R"({"cmd":"subscribeToIQ","RxID":%1%,"Enable":true})") % receiverId).str();
}

std::string setFrequency(int receiverId, long long frequency) {
    return (boost::format(R"({"cmd":"setFrequency","ID":%1%,"Frequency":%2%})") % receiverId % frequency).str();
}

namespace {

/// Deepest nesting of arrays and objects, brackets inside strings aside.
int depth(std::string_view text) {
    int level = 0, deepest = 0;
    bool inString = false, escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"')
            inString = true;
        else if (c == '{' || c == '[')
            deepest = std::max(deepest, ++level);
        else if (c == '}' || c == ']')
            --level;
    }
    return deepest;
}

} // namespace

std::optional<int> addReceiverResponse(std::string_view text) {
    if (depth(text) > maxReplyDepth) throw std::runtime_error("reply nested too deeply");
    std::istringstream in{std::string(text)};
    boost::property_tree::ptree reply;
    boost::property_tree::read_json(in, reply);
    if (reply.get<std::string>("cmd") != "addReceiverResponse") return std::nullopt;
    // The tree keeps every value as text; an id is a plain decimal int.
    const std::string id = reply.get<std::string>("ID");
    int value = 0;
    auto [end, error] = std::from_chars(id.data(), id.data() + id.size(), value);
    if (id.empty() || error != std::errc() || end != id.data() + id.size())
        throw std::runtime_error("reply ID is not an integer: " + id.substr(0, 32));
    return value;
}

} // namespace ProxyCommands
