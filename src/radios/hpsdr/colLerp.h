#pragma once
// colLerp: a piecewise-linear curve given as calibLine points (input,
// output), in collection order, read at x. Segment i is the first whose
// upper input is at least x, or the last one; values outside the points
// extrapolate along the first or last segment. Fewer than two points give
// 0. A segment of zero width gives the output of the point x has reached;
// a result that is not finite gives 0. Empty entries are skipped.
#include "framework/asyncCollection.h"
#include "framework/calibLine.h"

double colLerp(const asyncPersistantCollection<calibLine>& curve, double x);
