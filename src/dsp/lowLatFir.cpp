#include "dsp/lowLatFir.h"

void lowLatFir::BuildFilterCache() {
    // The design cache arrives with the filter itself.
}
