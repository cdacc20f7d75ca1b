#include "radios/rtl/RTLController.h"

#include "framework/exitGate.h"
#include "radios/rtl/RTLSDRLib.h"

#include <spdlog/spdlog.h>

#include <cstring>

RTLController::RTLController(std::shared_ptr<syncTask> group)
    : Controller(group ? std::make_shared<syncTask>(group->pool()) : nullptr), lib(RTLSDRLib::getInstance()) {}

void RTLController::Discover() {
    spdlog::info("rtl discover");
    lib->loadApi();
    bool found = false;
    if (!lib->loaded()) {
        spdlog::info("no rtl dll");
    } else if (const char* missing = lib->lacking({RTLSDRLib::entry::rtlsdr_get_device_count,
                                                   RTLSDRLib::entry::rtlsdr_get_device_usb_strings})) {
        spdlog::error("rtl discover refused: librtlsdr lacks {}", missing);
    } else {
        // The count is unsigned in the library; a value past INT_MAX is an
        // error of its own and finds nothing.
        const int count = int(lib->rtlsdr_get_device_count());
        for (int index = 0; index < count; ++index) {
            char manufacturer[256] = {}, product[256] = {}, serial[256] = {};
            if (lib->rtlsdr_get_device_usb_strings(uint32_t(index), manufacturer, product, serial) != 0) continue;
            // The library fills the buffer from the device: it may end
            // without a terminating zero.
            std::string text(serial, strnlen(serial, sizeof serial));
            newRadio.send("RTL~" + text);
            spdlog::info("rtl discovered {}", text);
            found = true;
        }
    }
    exitGate::rearmAfterFirst("librtlsdr discovery", found); // after what the driver built for it
    spdlog::info("rtl discover done");
}
