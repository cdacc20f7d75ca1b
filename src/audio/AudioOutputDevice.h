#pragma once
// AudioOutputDevice: one output sound device. It mixes the rings (audioIO)
// of every transceiver stream attached to it into the sound card's buffer,
// opens its sound stream when the first stream attaches and lets it stop by
// itself when none is left.
//
// Attach and detach requests go from the transceivers' task groups to the
// sound-card thread through a lock-free list: producers push nodes with a
// compare-and-swap; the callback takes the whole list with one exchange,
// applies every request in the order it was made, and hands the nodes back
// on a second list, which the producers free on their next request. The
// callback therefore neither locks nor allocates (up to 32 attached
// streams) nor frees, and a detach is never applied before its attach.
//
// A ring attached here while another device still plays it (a stream moving
// between devices) waits in the list until that device has let go of it or
// has fallen silent (audioIO::claimFor); a device lets go of a ring when it
// detaches it, when its stream finishes and when it goes.
#include "audio/AudioProvider.h"
#include "audio/audioIO.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class AudioOutputDevice : public AudioProducer {
public:
    static constexpr size_t reservedStreams = 32;

    /// A device at that position of the back-end's output list.
    AudioOutputDevice(std::string name, int listIndex, int rate, int channels);
    /// Releases the lists; does not close the stream, whose owner must
    /// outlive it.
    ~AudioOutputDevice() override;
    AudioOutputDevice(const AudioOutputDevice&) = delete;
    AudioOutputDevice& operator=(const AudioOutputDevice&) = delete;

    /// Attaches io from the next callback on, opening the device when it is
    /// closed. An io already attached is ignored. Any thread.
    void registerStream(std::shared_ptr<audioIO> io);
    /// Detaches io at the next callback; nothing when it is not attached.
    /// Any thread.
    void unregisterStream(std::shared_ptr<audioIO> io);
    /// Asks the back-end to close the stream.
    void stop();

    /// Applies the pending requests, then writes the first stream's frames
    /// and adds every other's, skipping rings another device still plays
    /// (zeros when none is left to play). With no stream left: zeros and 2
    /// (abort). Sound-card thread.
    int Callback(void* samples, unsigned long frames, double time) override;
    /// Closes the stream and lets go of its rings; opens it again when
    /// streams were attached after the callback that ended it. After the
    /// stream's last callback.
    void StreamFinished() override;

    /// True from an open request until the stream has finished.
    bool started() const { return started_.load(std::memory_order_acquire); }
    /// Streams attached by the requests made so far. Any thread.
    int attachedStreams() const { return attached_.load(std::memory_order_acquire); }
    /// Streams being mixed. Sound-card thread, or while no callback runs.
    size_t activeStreams() const { return active_.size(); }

    const std::string name;
    const int listIndex;
    const int rate;
    const int channels;

private:
    struct request {
        bool attach;
        std::shared_ptr<audioIO> io;
        request* next;
    };

    void push(bool attach, std::shared_ptr<audioIO> io);
    void applyRequests();
    static void freeChain(request* r);

    AudioProvider* provider_;
    std::atomic<bool> started_{false};

    /// Newest first; pushed by producers (release), taken whole by the
    /// callback (acquire).
    std::atomic<request*> pending_{nullptr};
    /// Nodes the callback is done with; pushed by the callback (release),
    /// taken whole and freed by producers (acquire).
    std::atomic<request*> spent_{nullptr};

    /// Producer side: the ios attached by the requests so far.
    std::mutex producers_;
    std::vector<audioIO*> attachedIos_;
    std::atomic<int> attached_{0};

    /// Callback side: the streams being mixed, in attach order.
    std::vector<std::shared_ptr<audioIO>> active_;
};
