// Between the device-service sources only: each keeps its own state and
// offers a way back to a fresh device.
#pragma once

namespace plat::shell_detail {

void ResetSip();
void ResetPower();
void ResetFeedback();

}  // namespace plat::shell_detail
