#pragma once
#include "framework/inplaceFunction.h"

/// A host request or data task: the callable lives inside the record (112
/// bytes, never on the heap) with the static request name that identifies it
/// in log lines.
struct seqTask {
    stdext::inplace_function<void(), 112, 8> fn;
    const char* name = "??";
};
