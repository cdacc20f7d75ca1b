#pragma once
// This test program replaces the global operator new to count allocations,
// so a test can show that a code path allocates nothing.

/// Allocations by operator new (all forms) since the program started.
long allocationCount();
