// Report descriptors of the emulated machine's HID interfaces, declaring what the simulated
// ones declare: the same collections, report ids, value capabilities and report lengths.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/SimBus.h"

namespace bed {

// A monitor's video controller: one application collection (usage page and usage of the
// monitor) with an input value (usage | 2, 8 bytes), the output values of another usage the
// monitor declares before its command value, the command value (usage | 1, or | 2 when it is
// set not to match) of output report length - 1 bytes, and a feature value (usage | 3) of
// feature report length - 1 bytes; all on the monitor's report id. With a second collection,
// a second application collection (0xFF45/0xA100) with one input report follows.
std::vector<uint8_t> MonitorDescriptor(const sim::SimMonitor& monitor);
// A boot keyboard (usage page 01, usage 06).
std::vector<uint8_t> KeyboardDescriptor();
// The touch controller's vendor interface (usage page 0xFF00, usage 0x0001), without
// report ids: 8 bytes in, as the simulator's touch interface declares.
std::vector<uint8_t> TouchDescriptor();

// The report id of the second collection's input report.
inline constexpr uint8_t kSecondCollectionReportId = 0xF0;

}  // namespace bed
