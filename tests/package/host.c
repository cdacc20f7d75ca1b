/* A host in plain C, built against an installed vireocore: starts the
 * library, drives a gain control through its handle and a property callback,
 * and exits 0 when the value it set comes back through a bound callback. */
#include <vireocore.h>

#include <stdio.h>
#include <unistd.h>

static int echoed = -1;
static void onEcho(int n) { echoed = n; }

int main(int argc, char** argv) {
    init(argc > 1 ? argv[1] : "vireo_package_host.log", 0);
    void* g = agc_create();
    agc_setVolume(g, 0.5f);
    asyncObject_bindEcho(g, onEcho);
    asyncObject_Ping(g, 42);
    for (int i = 0; i < 5000 && echoed != 42; ++i) {
        getUpdates();
        usleep(1000);
    }
    agc_release(g);
    closeAudio();
    printf("echo %d\n", echoed);
    return echoed == 42 ? 0 : 1;
}
