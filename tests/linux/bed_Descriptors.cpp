#include "tests/linux/bed_Descriptors.h"

#include <initializer_list>

namespace bed {

namespace {

// Short items: prefix byte (tag, type and size code) and 0, 1 or 2 data bytes.
class Builder {
public:
    Builder& raw(std::initializer_list<uint8_t> bytes) {
        out.insert(out.end(), bytes);
        return *this;
    }
    Builder& item(uint8_t prefix, uint32_t value, int size) {
        out.push_back(static_cast<uint8_t>(prefix | (size == 2 ? 2 : size)));
        for (int i = 0; i < size; ++i) {
            out.push_back(static_cast<uint8_t>(value >> (8 * i)));
        }
        return *this;
    }
    Builder& usagePage(uint16_t page) { return item(0x04, page, page > 0xFF ? 2 : 1); }
    Builder& usage(uint16_t usage) { return item(0x08, usage, usage > 0xFF ? 2 : 1); }
    Builder& reportId(uint8_t id) { return item(0x84, id, 1); }
    Builder& reportCount(uint16_t count) { return item(0x94, count, count > 0xFF ? 2 : 1); }
    Builder& byteValues() {  // logical 0..255, 8 bits
        return item(0x14, 0, 1).item(0x24, 0xFF, 2).item(0x74, 8, 1);
    }
    Builder& application() { return item(0xA0, 1, 1); }
    Builder& end() { return raw({0xC0}); }
    Builder& input() { return item(0x80, 0x02, 1); }    // data, variable, absolute
    Builder& output() { return item(0x90, 0x02, 1); }   // data, variable, absolute
    Builder& feature() { return item(0xB0, 0x02, 1); }  // data, variable, absolute

    std::vector<uint8_t> out;
};

}  // namespace

std::vector<uint8_t> MonitorDescriptor(const sim::SimMonitor& m) {
    Builder b;
    const bool numbered = m.reportId != 0 || m.otherOutputValues != 0 || m.secondCollection;
    auto id = [&](uint8_t reportId) {
        if (numbered) {
            b.reportId(reportId);
        }
    };
    b.usagePage(m.usagePage).usage(m.usage).application().byteValues();
    id(m.reportId);
    b.usage(static_cast<uint16_t>(m.usage | 2)).reportCount(8).input();
    const uint16_t outputCount =
        static_cast<uint16_t>(m.outputReportLength > 0 ? m.outputReportLength - 1 : 0);
    for (uint16_t k = 0; k < m.otherOutputValues; ++k) {
        id(static_cast<uint8_t>(m.reportId + 1 + k));
        b.usage(static_cast<uint16_t>(m.usage | 2)).reportCount(outputCount).output();
    }
    if (outputCount > 0) {
        id(m.reportId);
        b.usage(static_cast<uint16_t>(m.usage | (m.outputValueCapsMatch ? 1 : 2)))
            .reportCount(outputCount)
            .output();
    }
    if (m.featureReportLength > 1) {
        id(m.reportId);
        b.usage(static_cast<uint16_t>(m.usage | 3))
            .reportCount(static_cast<uint16_t>(m.featureReportLength - 1))
            .feature();
    }
    b.end();
    if (m.secondCollection) {
        b.usagePage(0xFF45).usage(0xA100).application().byteValues();
        b.reportId(kSecondCollectionReportId).usage(0xA101).reportCount(8).input();
        b.end();
    }
    return b.out;
}

std::vector<uint8_t> KeyboardDescriptor() {
    Builder b;
    b.usagePage(0x01).usage(0x06).application();
    // Modifier bits, a reserved byte, five LEDs and their padding, six key codes.
    b.usagePage(0x07).raw({0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01});
    b.reportCount(8).input();
    b.reportCount(1).raw({0x75, 0x08, 0x81, 0x01});
    b.reportCount(5).raw({0x75, 0x01}).usagePage(0x08).raw({0x19, 0x01, 0x29, 0x05});
    b.output().reportCount(1).raw({0x75, 0x03, 0x91, 0x01});
    b.reportCount(6).raw({0x75, 0x08, 0x15, 0x00, 0x25, 0x65}).usagePage(0x07);
    b.raw({0x19, 0x00, 0x29, 0x65, 0x81, 0x00});
    b.end();
    return b.out;
}

std::vector<uint8_t> TouchDescriptor() {
    Builder b;
    b.usagePage(0xFF00).usage(0x0001).application().byteValues();
    b.usage(0x0002).reportCount(8).input();
    b.end();
    return b.out;
}

}  // namespace bed
