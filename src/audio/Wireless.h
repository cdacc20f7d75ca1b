#pragma once
// Wireless: the root object, one per process. It publishes the sound devices
// of the audio back-end as two host-visible lists and owns one device object
// per listed device, at the same position; it holds the default microphone
// equaliser curve, the folder path the host starts with, and the MIDI switch.
// Other parts reach it through getInstance().
//
// Lifetime: the first root object made through create() (the host's
// Wireless_create) is kept until the process ends, whatever the host
// releases, so getInstance() never dangles for the audio streams, the MIDI
// input thread or the modes.
//
// Reading it from other task groups and threads:
//  - Microphone equaliser. Read micEqVersion (atomic, acquire), then
//    Calc(1024): gains at i x 23.4375 Hz. Every change to a point stores the
//    value before the count grows (release), so a reader that sees a new
//    count sees at least that change. Keep the count you built with and
//    rebuild when it differs. Calc takes a copy of the curve under the
//    curve's own lock (never held by anything slow, and never taken in a
//    sound-card callback; do not call Calc from one) and reads each point's
//    values once, so it works on one consistent copy. Any thread.
//  - getInitPath(): a copy of the folder path given to Init; empty before
//    Init. Any thread.
//  - outputDevice(id) / inputDevice(id): the device objects. Any thread.
//  - MidiDataCallback: atomic; read on the MIDI input thread.
//  - midi: the MIDI worker's (Midi::worker()), where MidiEnabled's switch
//    and SendMidi do their work, in the order the host made them.
// Everything else runs on the root object's own task group.
#include "audio/AudioInputDevice.h"
#include "audio/AudioOutputDevice.h"
#include "dsp/buff.h"
#include "framework/ValueLabelItem.h"
#include "framework/asyncCollection.h"
#include "framework/asyncProperty.h"
#include "framework/calibLine.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class Midi;

class Wireless : public asyncObject {
public:
    using midiDataCallback = void (*)(int kind, int a, int b, int c);
    /// Stored and never called.
    using plotCallback = void (*)(void* complexArray);

    /// Makes a task group of its own on the scheduler of group, becomes the
    /// process-wide instance unless one exists ("Wireless ctor called again"
    /// otherwise), and publishes the back-end's devices.
    explicit Wireless(std::shared_ptr<syncTask> group);
    /// Stops being the process-wide instance. The root made by create()
    /// never gets here.
    ~Wireless() override;

    /// A new root object; the one that becomes the process-wide instance is
    /// kept alive until the process ends.
    static std::shared_ptr<Wireless> create(std::shared_ptr<syncTask> group);

    /// The process-wide root object; null before the first one.
    static Wireless* getInstance();

    /// Adds the back-end's channel records not yet published: a device
    /// object and a list item {position, name} each, inputs first.
    void SendAudioDevices();

    /// The device object serving stream id `id`; null outside the list.
    /// Any thread.
    std::shared_ptr<AudioOutputDevice> outputDevice(int id) const;
    std::shared_ptr<AudioInputDevice> inputDevice(int id) const;

    /// Request "Wireless.Init()": stores the path (a null one is refused and
    /// the old kept), makes the nine default equaliser points when the curve
    /// is empty, hooks the points at positions 0 to 8 to micEqVersion and
    /// MidiEnabled to the MIDI switch.
    void Init(const char* path);

    /// n gains sampled from the equaliser curve at step 24000 / n Hz. The
    /// points used are those present at positions 0 to 8 with finite values,
    /// in order, the first taken at 0 Hz: none give 1.0 everywhere, one its
    /// own gain everywhere. A segment of zero width gives the upper point's
    /// gain; past the last point the last segment goes on. Any thread but a
    /// sound-card callback; see the top of this file.
    buff<float> Calc(int n) const;

    /// Request "Wireless.SendMidi()": sends the first `size` (1 to 3) of
    /// b0, b1, b2 on MIDI output device dev, on the MIDI worker. Nothing for
    /// a negative or too large dev or before MIDI was first switched on; a
    /// size outside 1 to 3 is refused with an error line.
    void SendMidi(int dev, int size, int b0, int b1, int b2);

    /// Runs job on the MIDI worker, after the MIDI work asked for before,
    /// with the root kept until it has run; dropped once the process exits.
    /// Any thread.
    void midiJob(std::function<void()> job);

    /// Request "Wireless.Close()": shuts the audio back-end down for good.
    void Close();

    asyncCollection<ValueLabelItem> outputDevices;
    asyncCollection<ValueLabelItem> inputDevices;
    /// Points (inp = Hz, outp = linear gain), in ascending frequency.
    asyncPersistantCollection<calibLine> DefaultMicEQ;
    std::atomic<plotCallback> PlotCplxF{nullptr};
    asyncProperty<bool> MidiEnabled{false};
    /// The MIDI input port names, each followed by "\r\n".
    asyncProperty<std::string> MidiDevices;
    /// Called directly on the MIDI input thread.
    std::atomic<midiDataCallback> MidiDataCallback{nullptr};
    /// Grows by one at every change of a hooked point's value; wraps.
    std::atomic<uint32_t> micEqVersion{0};

    /// Element k serves stream id k. Appended by SendAudioDevices only; read
    /// through outputDevice / inputDevice.
    std::vector<std::shared_ptr<AudioOutputDevice>> outputDeviceObjects;
    std::vector<std::shared_ptr<AudioInputDevice>> inputDeviceObjects;

    /// The folder the host gave at start-up; empty until then. Any thread.
    std::string getInitPath() const;
    void setInitPath(const std::string& path);

    /// Made at the first switch-on; the MIDI worker's only. Declared after
    /// MidiDataCallback, so that its input devices, whose threads call it,
    /// go first.
    std::unique_ptr<Midi> midi;

private:
    mutable std::mutex devices_;
    mutable std::mutex initPathMutex_;
    std::string initPath; // guarded by initPathMutex_

    /// MidiEnabled's change hook.
    void midiSwitch();
    /// Points micEqVersion's count at the curve's first nine points.
    void hookMicEq();
};

/// The back-end's device-change notification: publishes new devices on the
/// process-wide root object.
void addDevice();
