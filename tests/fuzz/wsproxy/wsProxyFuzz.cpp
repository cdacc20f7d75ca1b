// What the proxy server sends, as the radio takes it. The first byte says
// how the rest arrived: even, a binary message (an IQ frame or not); odd, a
// text message (a reply). Every text is also parsed as an address.
//
// Beyond memory faults it checks that a frame that is taken carries only
// finite samples and a centre the radio can hold, that a reply's id comes
// back out of the subscribe command it leads to, and that an address's parts
// are pieces of its text.
#include "radios/wsproxy/ProxyCommands.h"
#include "radios/wsproxy/Uri.h"
#include "radios/wsproxy/WsIqFrame.h"
#include "radios/wsproxy/WsProxyRadio.h"

#include <boost/property_tree/json_parser.hpp>

#include <cmath>
#include <cstdint>
#include <sstream>
#include <string_view>

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

void binary(const uint8_t* data, size_t size) {
    // A radio without a task group: the samples go through its receive
    // blocks, no transceiver listens.
    static auto radio = std::make_shared<WsProxyRadio>(nullptr);
    buff<std::complex<float>> samples(WsIqFrame::samples);
    auto r = WsIqFrame::decode(data, size, samples.data);
    if (r.what != WsIqFrame::verdict::samples) return;
    check(std::fabs(r.centre) <= WsIqFrame::maxCentre && r.hz == (long long)std::trunc(r.centre));
    for (auto s : samples) check(std::isfinite(s.real()) && std::isfinite(s.imag()));
    radio->handleRx(samples, r.hz);
    check(radio->receivers[0].frequency == r.hz);
}

void text(std::string_view message) {
    try {
        if (auto id = ProxyCommands::addReceiverResponse(message)) {
            std::istringstream in(ProxyCommands::subscribeToIQ(*id));
            boost::property_tree::ptree command;
            boost::property_tree::read_json(in, command);
            check(command.get<std::string>("RxID") == std::to_string(*id));
        }
    } catch (const std::exception&) {
        // A reply the radio refuses: the connection ends, nothing else.
    }
    Uri u = Uri::Parse(message);
    for (const std::string* part : {&u.query, &u.path, &u.protocol, &u.host, &u.port})
        check(part->empty() || message.find(*part) != std::string_view::npos);
    check(u.query.empty() || u.query.front() == '?');
    check(u.path.empty() || u.path.front() == '/');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    if (data[0] % 2 == 0)
        binary(data + 1, size - 1);
    else
        text(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
    return 0;
}
