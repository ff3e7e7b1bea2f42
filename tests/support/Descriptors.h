// Report descriptors for the Linux backend's tests and the bed.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <vector>

namespace descriptors {

// A short item: prefix with its size code, then the value in 1 or 2 little-endian bytes.
inline void Item(std::vector<uint8_t>& d, int prefix, int value, int size = 0) {
    size = size != 0 ? size : (value > 0xFF ? 2 : 1);
    d.push_back(static_cast<uint8_t>(prefix | size));
    d.push_back(static_cast<uint8_t>(value));
    if (size == 2) {
        d.push_back(static_cast<uint8_t>(value >> 8));
    }
}

struct Field {
    int reportId, usage, count,
        main;  // reportId 0: none; main: 0x80 input, 0x90 output, 0xB0 feature
};

// An application collection of 8-bit values 0..255 holding the fields.
inline void Collection(std::vector<uint8_t>& d, int page, int usage,
                       const std::vector<Field>& fields) {
    Item(d, 0x04, page), Item(d, 0x08, usage), Item(d, 0xA0, 1);
    Item(d, 0x14, 0), Item(d, 0x24, 0xFF, 2), Item(d, 0x74, 8);
    for (const Field& f : fields) {
        if (f.reportId != 0) {
            Item(d, 0x84, f.reportId);
        }
        Item(d, 0x08, f.usage), Item(d, 0x94, f.count), Item(d, f.main, 0x02);
    }
    d.push_back(0xC0);
}

// The video controller numbering every report with id 1 (the simulator's "report-id 01" with
// "numbered-feature yes"): usage page 0xFF45, usage 0xA000; input value 0xA002 of 8 bytes,
// output value 0xA001 (the command) of 263 bytes, feature value 0xA003 of 127 bytes.
inline const std::vector<uint8_t> kMonitor = [] {
    std::vector<uint8_t> d;
    Collection(d, 0xFF45, 0xA000,
               {{1, 0xA002, 8, 0x80}, {1, 0xA001, 263, 0x90}, {1, 0xA003, 127, 0xB0}});
    return d;
}();

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

// Wraps items in an application collection of vendor page 0xFF00, usage 1.
inline std::vector<uint8_t> InCollection(const std::vector<uint8_t>& items) {
    const uint8_t head[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01};
    std::vector<uint8_t> bytes(sizeof head + items.size() + 1, 0xC0);
    std::copy(std::begin(head), std::end(head), bytes.begin());
    std::copy(items.begin(), items.end(), bytes.begin() + sizeof head);
    return bytes;
}

}  // namespace descriptors
