#pragma once

#include <cstdint>
#include <vector>

#include "audio/core/chain/connector.h"
#include "platform/wave_types.h"

namespace pmx {

// Starts a connector, its displays already linked, as a recording chain would
// for blocks of data's size in format, refreshing on its own timer.
inline void StartConnectorFeed(TMMConnector& connector, const WaveFormatEx& format,
                               const std::vector<uint8_t>& data) {
  connector.SetTriggerMethod(TMMTriggerMethod::tmTimer);
  connector.SetPWaveFormat(&format);
  connector.SetBufferSize(static_cast<int32_t>(data.size()));
  connector.Opened();
  connector.Started();
}

}  // namespace pmx
