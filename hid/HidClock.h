#pragma once

#include <cstdint>

// Blocks the calling thread for the fixed pauses of the device protocol. The simulated
// backend advances its virtual clock instead.
void HidSleep(uint32_t milliseconds);
