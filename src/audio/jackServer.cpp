#include "audio/jackServer.h"

#include <jack/jack.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <type_traits>

// libjack as it is, past the wrappers below: the library's own clients are
// closed through these, so that an ask never passes through an ask.
extern "C" int __real_jack_client_close(jack_client_t* client);
extern "C" int __real_jack_deactivate(jack_client_t* client);
extern "C" int __real_jack_port_unregister(jack_client_t* client, jack_port_t* port);
extern "C" void __real_jack_on_shutdown(jack_client_t* client, JackShutdownCallback callback, void* arg);

namespace jackServer {
namespace {

// Plain and trivially destructible: read by the worker also while the
// process ends.
static_assert(std::is_trivially_destructible_v<std::mutex>);
std::mutex asking; // the asks, one at a time; and the followed name
std::atomic<jack_client_t*> client{nullptr};
std::atomic<bool> lost{false};
std::atomic<bool> closedForGood{false};
char followedName[256] = {};

/// A request to the server and back that changes nothing: the followed
/// client's id, looked up by its name. No id: the server has gone, or no
/// longer serves that client. Under `asking`.
bool asks(jack_client_t* c) noexcept {
    char* id = jack_get_uuid_for_client_name(c, followedName[0] ? followedName : jack_get_client_name(c));
    if (!id) return false;
    jack_free(id);
    return true;
}

} // namespace

void watch(const char* followed) noexcept {
    if (client.load(std::memory_order_acquire)) return;
    {
        std::lock_guard<std::mutex> l(asking);
        if (followed) std::snprintf(followedName, sizeof followedName, "%s", followed);
    }
    jack_status_t status{};
    client.store(jack_client_open("vireocore-watch", JackNoStartServer, &status), std::memory_order_release);
}

bool answers() noexcept {
    if (lost.load(std::memory_order_acquire)) return false;
    std::lock_guard<std::mutex> l(asking);
    bool answered = false;
    if (jack_client_t* c = client.load(std::memory_order_acquire)) {
        answered = asks(c);
    } else {
        jack_status_t status{};
        if (jack_client_t* once = jack_client_open("vireocore-check", JackNoStartServer, &status)) {
            answered = asks(once);
            __real_jack_client_close(once);
        }
    }
    if (!answered) lost.store(true, std::memory_order_release);
    return answered;
}

bool gone() noexcept { return lost.load(std::memory_order_acquire); }

bool closed() noexcept { return closedForGood.load(std::memory_order_acquire); }

void close() noexcept {
    closedForGood.store(true, std::memory_order_release);
    jack_client_t* c = client.exchange(nullptr, std::memory_order_acq_rel);
    if (c) __real_jack_client_close(c);
}

} // namespace jackServer

// The libjack calls whose results PortAudio's JACK back-end asserts come
// here first (see jackServer.h). A server may die while a call of
// PortAudio's on the worker is on its way, after the worker's last ask: its
// opens and closes, and its termination, each wait a cycle or two of the
// server (10 to 20 ms on the dummy driver), most of the worker's time while
// devices are switched or the sound is closed. The host would die with its
// server.
//
// Visible to the link; the shared library's version script keeps them
// local. librtmidi's own calls, resolved at run time, go to libjack's.
namespace {

/// Whether the server no longer answers, while PortAudio runs. Once it has
/// ended nothing of PortAudio's goes through a server any more, and only
/// others' calls come here: they see libjack's own result. An ask then
/// would open a short-lived client, and libjack, finding its server dead,
/// would close every other client of the process under its owner first.
bool serverGone() noexcept { return !jackServer::closed() && !jackServer::answers(); }

/// A failed call as PortAudio is to see it: done, when the server no longer
/// answers.
int passed(int result) noexcept { return result != 0 && serverGone() ? 0 : result; }

/// PortAudio's shutdown callback, which libjack calls on its client's
/// notification thread when the server dies, passes through here: the
/// callback locks a mutex of PortAudio's that PortAudio's termination
/// destroys right after it deactivates the client, and then frees. Plain and
/// trivially destructible, as the asks' state.
struct shutdownHook {
    std::mutex calling; // held while the callback runs
    jack_client_t* client = nullptr;
    JackShutdownCallback callback = nullptr;
    void* arg = nullptr;
};
shutdownHook hook;

void throughHook(void*) {
    std::lock_guard<std::mutex> l(hook.calling);
    if (hook.callback) hook.callback(hook.arg);
}

/// PortAudio is ending its client: from here on it is told of no shutdown,
/// and one being told is over when this returns.
void unhook(jack_client_t* client) noexcept {
    std::lock_guard<std::mutex> l(hook.calling);
    if (hook.client == client) hook.callback = nullptr;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int __wrap_jack_port_unregister(jack_client_t* client,
                                                                                 jack_port_t* port) {
    // A port of a client its server no longer serves has gone with it. The
    // server is asked first, too: libjack takes the port off its client's
    // list before it writes the request, and its notification thread may
    // still be walking that list for a latency notification that the server
    // sent as it died (a free list node read, and the process crashes). A
    // port of a server that has gone stays on the list, which goes with the
    // client.
    if (serverGone()) return 0;
    return passed(__real_jack_port_unregister(client, port));
}

extern "C" __attribute__((visibility("default"))) int __wrap_jack_deactivate(jack_client_t* client) {
    // libjack stops the client's process thread whatever the server said;
    // its notification thread goes only with the close.
    unhook(client);
    return passed(__real_jack_deactivate(client));
}

extern "C" __attribute__((visibility("default"))) int __wrap_jack_client_close(jack_client_t* client) {
    // libjack stops the client's threads and frees it whatever the server
    // said; the client must not be touched afterwards.
    unhook(client);
    return passed(__real_jack_client_close(client));
}

extern "C" __attribute__((visibility("default"))) void __wrap_jack_on_shutdown(jack_client_t* client,
                                                                              JackShutdownCallback callback,
                                                                              void* arg) {
    // The first client's (PortAudio's, which the sound worker opens first);
    // any other's goes straight to libjack.
    bool hooked = false;
    {
        std::lock_guard<std::mutex> l(hook.calling);
        if (!hook.client) {
            hook.client = client;
            hook.callback = callback;
            hook.arg = arg;
        }
        hooked = hook.client == client;
    }
    if (hooked)
        __real_jack_on_shutdown(client, &throughHook, nullptr);
    else
        __real_jack_on_shutdown(client, callback, arg);
}
