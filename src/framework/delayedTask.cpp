#include "framework/delayedTask.h"

#include "framework/ASIORunner.h"
#include "framework/asyncObject.h"

#include <boost/asio/steady_timer.hpp>

void postDelayed(std::weak_ptr<asyncObject> object, std::chrono::milliseconds delay, const seqTask& task) {
    // One timer per wait, owned by its handler: nothing is shared with the
    // caller's thread once the wait is queued.
    auto timer = std::make_shared<boost::asio::steady_timer>(ASIORunner::getInstance().context(), delay);
    timer->async_wait([timer, object = std::move(object), task](const boost::system::error_code& error) {
        if (error) return;
        if (auto o = object.lock()) o->asyncProcess(task);
    });
}
