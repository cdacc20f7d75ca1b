#pragma once
// movingAverage: the mean of the last n values of a series, kept as a ring
// and a running sum so each new value costs O(1). Used to smooth measured
// clock errors and buffer fill levels. Not thread-safe: it lives inside one
// owner and runs on that owner's task group.
#include <vector>

class movingAverage {
public:
    /// Empty window of n values; n below 1 is refused with a log line and a
    /// window of 1 is used.
    explicit movingAverage(int n);
    /// Window of n values already holding initial once.
    movingAverage(int n, double initial);

    /// Adds x and returns the new mean.
    double next(double x);
    /// Current mean; 0 while empty.
    double value() const;
    /// Forgets the values held (count and sum); the ring is overwritten as
    /// new values arrive.
    void reset();
    /// True once n values are held.
    bool full() const;

private:
    std::vector<double> ring;
    int window;
    int index = 0;
    int count = 0;
    double sum = 0;
};
