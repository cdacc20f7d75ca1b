// Blocks returned to the pool sit in lock-free free lists whose head pointer
// carries a tag in its upper bits, so the leak checker cannot follow it and
// reports every pooled block as lost. Pool blocks are kept for reuse by
// design; any other leak is still reported.
extern "C" const char* __lsan_default_suppressions() { return "leak:poolAlloc\n"; }
