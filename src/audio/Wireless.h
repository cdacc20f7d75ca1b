#pragma once
// Wireless: the root object, one per process. It publishes the sound devices
// of the audio back-end as two host-visible lists and owns one device object
// per listed device, at the same position; the transceivers' audio streams
// find their devices here through getInstance().
#include "audio/AudioInputDevice.h"
#include "audio/AudioOutputDevice.h"
#include "framework/ValueLabelItem.h"
#include "framework/asyncCollection.h"

#include <memory>
#include <mutex>
#include <vector>

class Wireless : public asyncObject {
public:
    /// Makes a task group of its own on the scheduler of group, becomes the
    /// process-wide instance unless one exists ("Wireless ctor called again"
    /// otherwise), and publishes the back-end's devices.
    explicit Wireless(std::shared_ptr<syncTask> group);
    /// Stops being the process-wide instance, so that nothing reaches it
    /// once gone.
    ~Wireless() override;

    /// The first root object constructed and still alive; null before.
    static Wireless* getInstance();

    /// Adds the back-end's channel records not yet published: a device
    /// object and a list item {position, name} each, inputs first.
    void SendAudioDevices();

    /// The device object serving stream id `id`; null outside the list.
    /// Any thread.
    std::shared_ptr<AudioOutputDevice> outputDevice(int id) const;
    std::shared_ptr<AudioInputDevice> inputDevice(int id) const;

    asyncCollection<ValueLabelItem> outputDevices;
    asyncCollection<ValueLabelItem> inputDevices;

    /// Element k serves stream id k. Appended by SendAudioDevices only; read
    /// through outputDevice / inputDevice.
    std::vector<std::shared_ptr<AudioOutputDevice>> outputDeviceObjects;
    std::vector<std::shared_ptr<AudioInputDevice>> inputDeviceObjects;

private:
    mutable std::mutex devices_;
};

/// The back-end's device-change notification: publishes new devices on the
/// process-wide root object.
void addDevice();
