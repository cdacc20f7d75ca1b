#include "framework/threadPriority.h"

#include <pthread.h>
#include <sched.h>
#include <spdlog/spdlog.h>

threadPriority::threadPriority(priority p) noexcept {
#if defined(VIREO_REALTIME)
    if (p != realtime) return;
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    int rc = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    if (rc != 0) {
        try {
            spdlog::info("real-time priority refused ({}), running at normal priority", rc);
        } catch (...) {
        }
    }
#else
    (void)p; // test builds may leave the scheduling of the machine alone
#endif
}
