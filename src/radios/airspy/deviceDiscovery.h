#pragma once
// Discovery of the devices on a USB receiver driver: one device id,
// "<prefix>~<serial>", per device the driver lists.
#include "framework/asyncEvent.h"
#include "radios/airspy/usbDriver.h"

#include <string>

/// The most devices a driver is asked for.
constexpr int maxListedDevices = 16;

/// Lists the driver's devices and sends one id per device on newRadio, in
/// the driver's order, with the log lines "<name> discover", "<name> found
/// <serial>", "<name>_list_devices fail <code>" and "<name> discover done".
/// A driver that reports more devices than it was asked for is held to the
/// ones it filled in. The controller's task group.
void discoverDevices(const usbDriver& driver, const char* prefix, asyncEvent<std::string>& newRadio);
