#include "dsp/movingAverage.h"

#include <cstddef>

movingAverage::movingAverage(int n) : ring(size_t(n), 0.0), window(n) {}

movingAverage::movingAverage(int n, double initial) : movingAverage(n) { next(initial); }

double movingAverage::next(double x) {
    if (count < window) {
        ++count;
        sum += x;
    } else {
        sum += x - ring[size_t(index)];
    }
    ring[size_t(index)] = x;
    if (++index == window) index = 0;
    return sum / count;
}

double movingAverage::value() const { return count > 0 ? sum / count : 0.0; }

void movingAverage::reset() {
    count = 0;
    sum = 0;
}

bool movingAverage::full() const { return count >= window; }
