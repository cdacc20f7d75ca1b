#pragma once

/// Scoped priority setter. realtime (0) raises the calling thread to the
/// highest FIFO real-time priority; any other value does nothing. The
/// destructor does not restore the priority. A refusal by the system is
/// logged once per thread and is never fatal.
class threadPriority {
public:
    enum priority { realtime = 0, normal = 1 };
    explicit threadPriority(priority p) noexcept;
    ~threadPriority() = default;
    threadPriority(const threadPriority&) = delete;
    threadPriority& operator=(const threadPriority&) = delete;
};
