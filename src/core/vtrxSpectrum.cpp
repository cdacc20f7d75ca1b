#include "core/vtrx.h"

void vtrx::processRxSpectrumChunk(buff<cplx> block, long long frequency, int rate, buff<float> wideBand,
                                  double wideBandValue) {
    // Spectrum lines arrive with the spectrum work.
}
