#pragma once

/// Partitioned-FFT FIR filter with one block of latency.
class lowLatFir {
public:
    /// Builds the cache of start-up designs; called once by init, before any
    /// filter exists, and read without a lock afterwards.
    static void BuildFilterCache();
};
