// Report descriptors written out byte by byte, for the tests of the Linux backend's parser
// and channel: the monitor's video controller as the simulated monitors declare it, a boot
// keyboard, a device of several top-level collections, and the pieces broken ones are cut from.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <vector>

namespace descriptors {

// The video controller numbering every report with id 1 (the simulator's "report-id 01" with
// "numbered-feature yes"): usage page 0xFF45, usage 0xA000; input value 0xA002 of 8 bytes,
// output value 0xA001 (the command) of 263 bytes, feature value 0xA003 of 127 bytes.
inline const std::vector<uint8_t> kMonitor = {
    0x06, 0x45, 0xFF, 0x0A, 0x00, 0xA0, 0xA1, 0x01,  // page 0xFF45, usage 0xA000, Application
    0x15, 0x00, 0x26, 0xFF, 0x00,                    //   logical 0..255
    0x35, 0x00, 0x46, 0xFF, 0x00,                    //   physical 0..255
    0x75, 0x08, 0x85, 0x01,                          //   8 bits, report id 1
    0x0A, 0x02, 0xA0, 0x95, 0x08, 0x81, 0x02,        //   usage 0xA002, 8, Input (Data, Var)
    0x0A, 0x01, 0xA0, 0x96, 0x07, 0x01, 0x91, 0x02,  //   usage 0xA001, 263, Output (Data, Var)
    0x0A, 0x03, 0xA0, 0x95, 0x7F, 0xB1, 0x02,        //   usage 0xA003, 127, Feature (Data, Var)
    0xC0,                                            // End Collection
};

// The same controller without report ids, as the simulated monitors declare it by default.
inline const std::vector<uint8_t> kUnnumberedMonitor = {
    0x06, 0x45, 0xFF, 0x0A, 0x00, 0xA0, 0xA1, 0x01,  // page 0xFF45, usage 0xA000, Application
    0x15, 0x00, 0x26, 0xFF, 0x00,                    //   logical 0..255
    0x35, 0x00, 0x46, 0xFF, 0x00,                    //   physical 0..255
    0x75, 0x08,                                      //   8 bits
    0x0A, 0x02, 0xA0, 0x95, 0x08, 0x81, 0x02,        //   usage 0xA002, 8, Input (Data, Var)
    0x0A, 0x01, 0xA0, 0x96, 0x07, 0x01, 0x91, 0x02,  //   usage 0xA001, 263, Output (Data, Var)
    0x0A, 0x03, 0xA0, 0x95, 0x7F, 0xB1, 0x02,        //   usage 0xA003, 127, Feature (Data, Var)
    0xC0,                                            // End Collection
};

// The monitor's descriptor followed by a second collection (usage 0xA100, report id 2, an
// 8-byte input value) that names neither its usage page nor its report size: both carry over.
inline std::vector<uint8_t> MonitorWithSecondCollection() {
    std::vector<uint8_t> bytes = kMonitor;
    bytes.insert(bytes.end(), {
                                  0x0A, 0x00, 0xA1, 0xA1, 0x01,  // usage 0xA100, Application
                                  0x85, 0x02, 0x0A, 0x01, 0xA1,  //   report id 2, usage 0xA101
                                  0x95, 0x08, 0x81, 0x02, 0xC0,  //   8, Input (Data, Var); End
                              });
    return bytes;
}

// A boot keyboard without report ids: 8 modifier bits, a constant byte, 6 key codes in;
// 5 LED bits and 3 bits of padding out.
inline const std::vector<uint8_t> kKeyboard = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01,              // Generic Desktop, Keyboard, Application
    0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7,              //   Keyboard page, usages E0..E7
    0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08,  //   0..1, 8 x 1 bit
    0x81, 0x02,                                      //   Input (Data, Variable)
    0x95, 0x01, 0x75, 0x08, 0x81, 0x01,              //   Input (Constant) 1 x 8 bits
    0x95, 0x05, 0x75, 0x01, 0x05, 0x08,              //   5 x 1 bit, LED page
    0x19, 0x01, 0x29, 0x05, 0x91, 0x02,              //   usages 1..5, Output (Data, Variable)
    0x95, 0x01, 0x75, 0x03, 0x91, 0x01,              //   Output (Constant) 1 x 3 bits
    0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x25, 0x65,  //   6 x 8 bits, 0..101
    0x05, 0x07, 0x19, 0x00, 0x29, 0x65,              //   Keyboard page, usages 0..101
    0x81, 0x00,                                      //   Input (Data, Array)
    0xC0,                                            // End Collection
};

// Three top-level collections on numbered reports: a mouse (report 1: three buttons, five
// bits of padding, relative X and Y in a physical collection), a consumer control (report 2:
// one 16-bit array field) and a vendor feature (report 3: 63 bytes).
inline const std::vector<uint8_t> kComposite = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01,        // Generic Desktop, Mouse, Application
    0x85, 0x01,                                //   Report ID (1)
    0x09, 0x01, 0xA1, 0x00,                    //   Pointer, Collection (Physical)
    0x05, 0x09, 0x19, 0x01, 0x29, 0x03,        //     Buttons 1..3
    0x15, 0x00, 0x25, 0x01,                    //     0..1
    0x95, 0x03, 0x75, 0x01, 0x81, 0x02,        //     3 x 1 bit, Input (Data, Variable)
    0x95, 0x01, 0x75, 0x05, 0x81, 0x03,        //     1 x 5 bits, Input (Constant)
    0x05, 0x01, 0x09, 0x30, 0x09, 0x31,        //     X, Y
    0x15, 0x81, 0x25, 0x7F,                    //     -127..127
    0x75, 0x08, 0x95, 0x02, 0x81, 0x06,        //     2 x 8 bits, Input (Data, Variable, Relative)
    0xC0, 0xC0,                                //   End Collection, End Collection
    0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01,        // Consumer, Consumer Control, Application
    0x85, 0x02,                                //   Report ID (2)
    0x15, 0x00, 0x26, 0xFF, 0x03,              //   0..1023
    0x19, 0x00, 0x2A, 0xFF, 0x03,              //   usages 0..0x3FF
    0x75, 0x10, 0x95, 0x01, 0x81, 0x00,        //   1 x 16 bits, Input (Data, Array)
    0xC0,                                      // End Collection
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,  // Vendor 0xFF00, usage 1, Application
    0x85, 0x03,                                //   Report ID (3)
    0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,  //   0..255, 8 bits
    0x95, 0x3F, 0x09, 0x02, 0xB1, 0x02,        //   63 x usage 2, Feature (Data, Variable)
    0xC0,                                      // End Collection
};

// Wraps items in an application collection of vendor page 0xFF00, usage 1.
inline std::vector<uint8_t> InCollection(const std::vector<uint8_t>& items) {
    const uint8_t head[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01};
    std::vector<uint8_t> bytes(sizeof head + items.size() + 1, 0xC0);
    std::copy(std::begin(head), std::end(head), bytes.begin());
    std::copy(items.begin(), items.end(), bytes.begin() + sizeof head);
    return bytes;
}

}  // namespace descriptors
