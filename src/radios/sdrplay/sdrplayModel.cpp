#include "radios/sdrplay/sdrplayModel.h"

namespace sdrplayModels {

sdrplayModel fromText(const std::string& model) {
    if (model == "RSP1") return sdrplayModel::rsp1;
    if (model == "RSP1A" || model == "RSP1B") return sdrplayModel::rsp1a;
    if (model == "RSP2") return sdrplayModel::rsp2;
    if (model == "RSPduo") return sdrplayModel::rspDuo;
    if (model == "RSPdx" || model == "RSPdxR2") return sdrplayModel::rspDx;
    return sdrplayModel::other;
}

int lnaTop(sdrplayModel m) {
    switch (m) {
    case sdrplayModel::rsp1: return 3;
    case sdrplayModel::rsp1a: return 9;
    case sdrplayModel::rsp2: return 8;
    case sdrplayModel::rspDuo: return 9;
    case sdrplayModel::rspDx: return 27;
    case sdrplayModel::other: break;
    }
    return 255;
}

} // namespace sdrplayModels
