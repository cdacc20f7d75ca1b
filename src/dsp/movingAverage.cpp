#include "dsp/movingAverage.h"

#include <spdlog/spdlog.h>

#include <cstddef>

namespace {

int usableWindow(int n) {
    if (n >= 1) return n;
    spdlog::error("movingAverage window {} refused, 1 used", n);
    return 1;
}

} // namespace

movingAverage::movingAverage(int n) : window(usableWindow(n)) { ring.assign(size_t(window), 0.0); }

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
