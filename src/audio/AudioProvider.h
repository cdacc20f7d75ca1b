#pragma once
// The sound-card back-end: the process-wide object through which the system
// finds sound devices and opens and closes their streams.
//
// It keeps two lists of channel records, outputs and inputs; the position of
// a record in its list is the device's number everywhere else (the stream id
// of the transceivers' audio streams, the value of the root object's device
// items). Position 0 of both lists is "None": no device.
//
// Callers on any thread only post stream operations and never wait for them;
// the outcome is logged. Sound-card callbacks reach the endpoint recorded as
// the channel's owner (an AudioProducer for outputs, an AudioConsumer for
// inputs) on the sound library's own threads.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/// An input endpoint that receives the samples of an input stream.
class AudioConsumer {
public:
    virtual ~AudioConsumer() = default;
    /// frames mono samples (samples may be null); 0 continue, 2 abort.
    /// Sound-card thread.
    virtual int Callback(const void* samples, unsigned long frames, double time) { return 0; }
    /// The stream has stopped; no callback follows.
    virtual void StreamFinished() {}
};

/// An output endpoint that fills the buffers of an output stream.
class AudioProducer {
public:
    virtual ~AudioProducer() = default;
    /// Fills frames × channels interleaved floats; 0 continue, 2 abort.
    /// Sound-card thread.
    virtual int Callback(void* samples, unsigned long frames, double time) { return 0; }
    /// The stream has stopped; no callback follows.
    virtual void StreamFinished() {}
};

/// One listed device of one direction. Built once while the back-end is
/// made; afterwards only stream and owner change.
template <class Owner>
struct AudioChannel {
    uint64_t index = 0;    // position in its list
    std::string name;      // as the sound library reports it; "None" at 0
    int device = -1;       // the sound library's device number; -1 for "None"
    std::string secondName;
    int rate = 48000;
    int channels = 2;
    void* stream = nullptr; // open stream; touched only by the back-end's worker
    /// The endpoint given to the latest open, stored by the open call on the
    /// caller's thread (release). A stream's callbacks reach the endpoint
    /// given to the open that made it.
    std::atomic<Owner*> owner{nullptr};
};
using AudioOutputChannel = AudioChannel<AudioProducer>;
using AudioInputChannel = AudioChannel<AudioConsumer>;

class AudioProvider {
public:
    virtual ~AudioProvider() = default;

    /// The process-wide back-end: the one installed with install(), else a
    /// PortAudio back-end made (and its devices listed) on the first call.
    /// Never destroyed: sound-card threads may call into it while the process
    /// ends. Any thread.
    static AudioProvider* getInstance();

    /// Makes p the process-wide back-end; only before the first
    /// getInstance() (tests put a simulated sound card here). False, and
    /// nothing changes, once a back-end exists. p is never destroyed.
    static bool install(AudioProvider* p);

    /// Closes every stream and the sound library; returns when done, or,
    /// never waiting on a sound server that has stopped answering, once the
    /// back-end finds itself held by one: it then finishes on its own, should
    /// the server go on. Later calls neither block nor fail, and later opens
    /// have no effect.
    virtual void Close() = 0;
    /// Records producer as the owner of output index, then opens and starts
    /// its stream asynchronously; that stream calls back producer, and no
    /// other endpoint, for as long as it lives. Opens and closes take effect
    /// in the order they were asked for, from whichever threads. Indices are
    /// not checked: callers pass positions inside the lists. Any thread.
    /// A stream's end that a close made is reported (StreamFinished) only to
    /// an endpoint that a later open of the position replaced: the owner of
    /// the position's current stream never takes it for that stream's end.
    virtual void OpenOutput(int index, AudioProducer* producer) = 0;
    virtual void OpenInput(int index, AudioConsumer* consumer) = 0;
    /// Aborts and closes the stream of that position asynchronously; nothing
    /// happens when none is open. A stream that calls back no more is left
    /// open rather than waited for; it calls its endpoint no more. Any
    /// thread.
    virtual void CloseInput(int index) = 0;
    virtual void CloseOutput(int index) = 0;
    /// List positions of the system's default devices; 0 when there is none.
    virtual int defaultAudioInputDevice() = 0;
    virtual int defaultAudioOutputDevice() = 0;

    /// Device-change notification; the root object stores its device
    /// publisher here. This back-end lists devices once and never calls it.
    void (*deviceChanged)() = nullptr;
    int defaultInput = 0;
    int defaultOutput = 0;
    std::vector<std::unique_ptr<AudioOutputChannel>> outputs;
    std::vector<std::unique_ptr<AudioInputChannel>> inputs;

protected:
    /// Empties both lists and appends the two "None" records: output
    /// {48000 Hz, 2 channels}, input {48000 Hz, 1 channel}.
    void addNoneEntries();
};
