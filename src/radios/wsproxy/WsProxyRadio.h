#pragma once
// WsProxyRadio: a receive-only radio whose IQ comes from a remote proxy
// server over a websocket. Each start opens one connection (WsProxyLink) on a
// thread of its own, asks the server for a receiver on the remote radio
// RemoteID and subscribes to its IQ; every frame that arrives is written to
// hardware receiver 0 on the radio's task group. Retuning queues frequency
// commands that the connection sends after the next message it receives.
//
// Threads: startRadio, stopRadio, tune, addHWReceiver and the data tasks
// ("handleRx", "addReceiverResponse") run on the radio's task group; the
// communication thread only reads frames and replies, posts those data tasks
// and sends the queued commands. The command ring has exactly one producer
// (the task group) and one consumer (the communication thread): a new
// connection starts only after the previous thread has been joined.
#include "core/Radio.h"
#include "framework/exitGate.h"

#include <boost/lockfree/spsc_queue.hpp>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

class WsProxyLink;

class WsProxyRadio : public Radio {
public:
    /// 129 slots, so at most 128 commands wait.
    static constexpr size_t commandSlots = 129;
    static constexpr long long startFrequency = 14095600;
    /// The rate of every frame the server sends; SampleRate takes no other.
    static constexpr int sampleRate = 48000;

    explicit WsProxyRadio(std::shared_ptr<syncTask> group);
    /// Ends the connection and joins its thread (within WsProxyLink's close
    /// grace); when the last reference went on that thread itself, the thread
    /// is left to finish on its own.
    ~WsProxyRadio() override;

    /// Id of the radio on the server to which receivers are added; read at
    /// each start and by addHWReceiver.
    asyncProperty<int> RemoteID{0};
    /// Server address, protocol://host:port/path?query; read at each start.
    asyncProperty<std::string> URI;

    /// Queues a set-frequency command for every receiver with a remote id.
    /// Radio's task group.
    void tune() override;
    /// Queues an add-receiver command and appends a receiver waiting for its
    /// id. Radio's task group, while the base keeps other threads off the
    /// receivers.
    void addHWReceiver(long long frequency) override;
    /// Adds a transceiver when there is none, ends any running connection and
    /// opens a new one with the URI and RemoteID of this moment. Radio's task
    /// group; never waits on the server beyond the close grace.
    void startRadio() override;
    /// Ends the connection (close code 1000 when it is up) and joins its
    /// thread. Radio's task group.
    void stopRadio() override;
    /// Receive-only: every key is refused, whatever canTransmit says.
    bool hasTransmitter() const override { return false; }

    // ---- from the communication thread, as data tasks ----
    /// Tunes receiver 0 to the frame's centre and writes its samples there.
    void handleRx(buff<cplx> samples, long long centre);
    /// Gives the server's new receiver id to the earliest receiver still
    /// waiting for one, or to the most recent receiver when none waits.
    void storeRemoteId(int id);

    /// Communication thread: the oldest waiting command, if any.
    bool takeCommand(std::string& out) { return commands.pop(out); }
    /// Commands waiting for the connection. Any thread; a snapshot.
    size_t commandsWaiting() const { return commands.read_available(); }

    /// Set by startRadio, cleared by stopRadio.
    std::atomic<bool> running{false};

private:
    /// Body of the communication thread: runs one connection to its end.
    static void RunComms(std::shared_ptr<WsProxyLink> link, std::shared_ptr<exitGate::threadEnd> end);
    void endConnection();
    void queueCommand(std::string command);

    // boost's capacity counts the usable slots.
    boost::lockfree::spsc_queue<std::string, boost::lockfree::capacity<commandSlots - 1>> commands;
    std::shared_ptr<WsProxyLink> link;
    std::thread comms;
    std::shared_ptr<exitGate::threadEnd> commsEnd; // the exit waits for a thread let go
};
