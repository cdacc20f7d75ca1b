#pragma once
// libjack's own messages, in the library's log instead of the host's
// terminal.
//
// libjack prints its errors to standard error and its notices to standard
// output unless told otherwise, and a machine without a JACK server gets a
// handful of error lines from every client it tries to open: PortAudio's
// probe of its JACK back-end at start-up, and each MIDI port RtMidi tries on
// JACK. That is the ordinary state of such a machine, so those lines are
// logged at debug level; any other libjack error at error level, its
// notices at info level, each as "jack: " and the text.

namespace jackMessages {

/// Sends libjack's errors and notices to the log from now on, for the whole
/// process. Call before the first libjack call (PortAudio's initialisation).
/// Lines libjack reports once the process has begun to exit are dropped: the
/// log may be gone by then.
void toLog() noexcept;

} // namespace jackMessages
