#pragma once
// jackConnectionWatch: waits until a connection just made to a JACK port
// carries data.
//
// jack_connect returns once the server has written the connection into the
// graph it runs next; it runs that graph from the start of a later period,
// when the period before has finished (jack_activate waits for that, a
// connection does not). Until then every client runs in the graph without
// it: a MIDI message sent meanwhile is played into a port nobody reads and
// is gone, and one arriving at the other end is heard by nobody. On a loaded
// machine that takes several periods.
//
// The watch opens a client of its own (the ones RtMidi opens are out of
// reach), notes the port's connections in the graph the server runs, and
// after the connection is made waits until one more, of the given port
// name, is there. Root object's task group; JACK interface only.
#include <jack/jack.h>

#include <chrono>
#include <set>
#include <string>

class jackConnectionWatch {
public:
    /// Watches the port of full name `port`. Without a server, or without
    /// that port, there is nothing to watch and wait returns false at once.
    explicit jackConnectionWatch(const std::string& port);
    ~jackConnectionWatch();
    jackConnectionWatch(const jackConnectionWatch&) = delete;
    jackConnectionWatch& operator=(const jackConnectionWatch&) = delete;

    /// Waits, at most `limit`, until the graph the server runs connects the
    /// port to a port named "<client>:`portName`" it did not connect at the
    /// watch's start. True when it does.
    bool waitForNew(const std::string& portName, std::chrono::milliseconds limit = std::chrono::seconds(1));

private:
    std::set<std::string> connections() const;

    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    std::set<std::string> before_;
};
