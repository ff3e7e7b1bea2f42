// Pieces of the simulated HID library shared inside sim/.
#pragma once

namespace sim {

// Forgets the binding of HidLib, as a new process would start.
void ResetSimHidLibrary();

}  // namespace sim
