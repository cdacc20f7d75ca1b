#pragma once
// The sound-card back-end: device lists and stream operations. Position 0 of
// both device lists is the "None" entry that stands for no device.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/// An input endpoint that receives the samples of an input stream.
class AudioConsumer {
public:
    virtual ~AudioConsumer() = default;
    /// 0 continue, 2 abort.
    virtual int Callback(const void* samples, unsigned long frames, double time) { return 0; }
    virtual void StreamFinished() {}
};

/// An output endpoint that fills the buffers of an output stream.
class AudioProducer {
public:
    virtual ~AudioProducer() = default;
    virtual int Callback(void* samples, unsigned long frames, double time) { return 0; }
    virtual void StreamFinished() {}
};

template <class Owner>
struct AudioChannel {
    uint64_t index = 0;
    std::string name;
    int device = -1;
    std::string secondName;
    int rate = 48000;
    int channels = 2;
    void* stream = nullptr;
    Owner* owner = nullptr;
};
using AudioOutputChannel = AudioChannel<AudioProducer>;
using AudioInputChannel = AudioChannel<AudioConsumer>;

class AudioProvider {
public:
    virtual ~AudioProvider() = default;

    /// The process-wide back-end, created on the first call; never destroyed.
    static AudioProvider* getInstance();

    /// Closes every stream and the sound library; blocks until done. A second
    /// call neither blocks nor fails.
    virtual void Close() = 0;
    virtual void OpenOutput(int index, AudioProducer* producer) = 0;
    virtual void OpenInput(int index, AudioConsumer* consumer) = 0;
    virtual void CloseInput(int index) = 0;
    virtual void CloseOutput(int index) = 0;
    virtual int defaultAudioInputDevice() = 0;
    virtual int defaultAudioOutputDevice() = 0;

    void (*deviceChanged)() = nullptr;
    int defaultInput = 0;
    int defaultOutput = 0;
    std::vector<std::unique_ptr<AudioOutputChannel>> outputs;
    std::vector<std::unique_ptr<AudioInputChannel>> inputs;

protected:
    /// Appends the two "None" records: output {48000, 2}, input {48000, 1}.
    void addNoneEntries();
};

/// A back-end without devices: only the "None" entries, defaults 0. Used
/// where no sound library is available.
class NullAudioProvider : public AudioProvider {
public:
    NullAudioProvider();
    void Close() override;
    void OpenOutput(int index, AudioProducer* producer) override;
    void OpenInput(int index, AudioConsumer* consumer) override;
    void CloseInput(int index) override {}
    void CloseOutput(int index) override {}
    int defaultAudioInputDevice() override { return defaultInput; }
    int defaultAudioOutputDevice() override { return defaultOutput; }
};
