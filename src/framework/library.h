#pragma once
// Process-wide state of the library and the bodies of the start-up and
// polling functions of the C interface.
#include <memory>

class sothreadPool;
class syncTask;

/// The one scheduler; null until init.
extern sothreadPool* globalPool;
/// The task group of every object without a lane of its own; empty until init.
/// Never destroyed, like the scheduler.
extern std::shared_ptr<syncTask>& globalTaskGroup;

namespace vireo {

/// Starts the library: crash-dump path, the "vc" logger, the scheduler, the
/// global task group, the filter design cache. Failures are logged (and
/// written to standard error) and leave the library inert; a second call is
/// logged and ignored, also one racing the first from another thread (it
/// returns once the first is done). Never throws.
void init(const char* logPath, int verbose) noexcept;

/// Drain the update / render queue on the calling (host) thread, running
/// each host task; a throwing callback is logged and delivery goes on.
void getUpdates() noexcept;
void getRenderUpdates() noexcept;

/// Closes the sound side; returns once the audio back-end has shut down, or
/// soon when a stopped sound server holds it (it then finishes on its own).
void closeAudio() noexcept;

} // namespace vireo
