// Placeholder until the loop-back cases are in.
