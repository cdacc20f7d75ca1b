#include "radios/soapy/soapyCapabilities.h"

#include "dsp/dspMath.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace soapyCapabilities {

std::optional<int> wholeNumber(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    const double t = std::trunc(value);
    if (t < double(INT_MIN) || t > double(INT_MAX)) return std::nullopt;
    return int(t);
}

bool inRange(double minimum, double maximum, double step, int rate) {
    if (!std::isfinite(minimum) || !std::isfinite(maximum)) return false;
    // The values that truncate to the rate: [rate, rate + 1).
    const double low = double(rate), high = low + 1.0;
    double first = std::max(low, minimum); // the lowest value of the range there
    if (step > 0 && std::isfinite(step) && first > minimum) {
        // The first step at or above low; the slack keeps a step that lands
        // exactly on it from rounding up past it.
        const double k = std::ceil((first - minimum) / step - 1e-9);
        first = minimum + k * step;
    }
    return first < high && first <= maximum;
}

std::vector<int> ratesOfRange(double minimum, double maximum, double step) {
    std::vector<int> rates;
    if (!std::isfinite(minimum) || !std::isfinite(maximum)) {
        spdlog::error("soapy sample rate range {} {} refused", minimum, maximum);
        return rates;
    }
    // 64 bits throughout: a maximum past 2^31 must neither wrap the doubling
    // nor be offered as a rate.
    const double top = std::trunc(maximum);
    const int64_t lo = std::max<int64_t>(int64_t(std::clamp(std::trunc(minimum), -1e18, 1e18)), 48000);
    const int64_t limit = int64_t(std::min(top, double(INT_MAX)));
    int64_t rate = 48000;
    for (; rate <= limit; rate *= 2)
        if (rate >= lo) rates.push_back(int(rate));
    if (top <= double(INT_MAX) && top > double(rate / 2)) rates.push_back(int(top));
    // A rate between two steps is one the device would round to another.
    std::erase_if(rates, [&](int r) { return !inRange(minimum, maximum, step, r); });
    return rates;
}

std::optional<int> listedRate(double value) {
    const auto rate = wholeNumber(value);
    if (!rate) {
        spdlog::info("soapy srate {} refused", value);
        return std::nullopt;
    }
    spdlog::info("soapy srate {}", *rate);
    if (*rate < 48000) return std::nullopt;
    int L = 1, M = 1;
    dspMath::getDecimation(*rate, 384000, &L, &M);
    if (int64_t(M) * 384000 > 12000000000LL) return std::nullopt;
    return rate;
}

std::string settingText(int index, const SoapySDRArgInfo& info) {
    static const char* const types[] = {"bool", "int", "float", "string"};
    // Read as the int it is: a device may put any number there, and no
    // value outside the enumeration may be loaded as one.
    int type = 0;
    static_assert(sizeof type == sizeof info.type);
    std::memcpy(&type, &info.type, sizeof type);
    std::string t;
    auto field = [&t](const std::string& s) {
        t += s;
        t += '~';
    };
    auto text = [](const char* s) { return std::string(s ? s : ""); };
    field(std::to_string(index));
    field(text(info.description));
    field(text(info.key));
    field(text(info.name));
    field(type >= 0 && type < 4 ? types[type] : "?");
    field(text(info.units));
    field(text(info.value));
    field(std::to_string(info.range.maximum)); // six digits after the point
    field(std::to_string(info.range.minimum));
    field(std::to_string(info.range.step));
    field(std::to_string(info.numOptions));
    for (size_t i = 0; i < info.numOptions; ++i) {
        const std::string option = info.options ? text(info.options[i]) : "";
        field(option);
        field(info.optionNames ? text(info.optionNames[i]) : option);
    }
    return t;
}

} // namespace soapyCapabilities
