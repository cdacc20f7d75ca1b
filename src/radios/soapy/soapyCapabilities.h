#pragma once
// What the capability read makes of a device's answers: the sample rates to
// offer, whole numbers taken from the device's doubles, and the text that
// describes one device setting to the host. Pure functions; the doubles and
// texts come from a device library and are checked before use.
#include <SoapySDR/Types.h>

#include <optional>
#include <string>
#include <vector>

namespace soapyCapabilities {

/// Rates offered for one device range: 48000 doubled while it stays within
/// [max(minimum, 48000), maximum], then the maximum itself when it lies
/// above half the first doubling past it; with a step, only those that lie
/// on one (inRange). Bounds are truncated; none is above the int range (a
/// larger maximum caps the doubling and is not offered itself); a
/// non-finite bound gives nothing.
std::vector<int> ratesOfRange(double minimum, double maximum, double step = 0);

/// Whether a device range holds a value that is `rate` once truncated, as
/// rates are taken from the device: minimum + k * step for some whole k
/// when step is a positive number, anything in [minimum, maximum] when it
/// is not. A non-finite bound holds nothing.
bool inRange(double minimum, double maximum, double step, int rate);

/// A rate from the device's list as offered, or nothing: below 48000, not an
/// int, or needing a resampling ratio finer than the transceiver accepts
/// (the rate's M towards 384000, times 384000, above 12e9). Logs "soapy srate".
std::optional<int> listedRate(double rate);

/// A device double as an int (truncated), or nothing when it is not finite
/// or outside the int range.
std::optional<int> wholeNumber(double value);

/// "index~description~key~name~type~units~default~max~min~step~count~"
/// followed by "option~name~" per option (the option again when the entry
/// has no names). Null texts, options and names read as empty.
std::string settingText(int index, const SoapySDRArgInfo& info);

} // namespace soapyCapabilities
