#pragma once
// The RSP models as the host names them in Model: the controls key on the
// exact text.
#include <string>

enum class sdrplayModel { other, rsp1, rsp1a, rsp2, rspDuo, rspDx };

namespace sdrplayModels {

/// RSP1B is driven as the RSP1A, RSPdxR2 as the RSPdx.
sdrplayModel fromText(const std::string& model);

/// The largest LNA state of the model (the smallest is 0); 255, a byte's
/// worth, for a text no model has.
int lnaTop(sdrplayModel m);

} // namespace sdrplayModels
