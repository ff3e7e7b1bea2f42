// Arbitrary bytes as a report descriptor: the parser refuses them or answers with what the
// HID table promises the program: report lengths that hold the id byte and every field, value
// caps within their report, all of them given when there is room.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "hid/ReportDescriptor.h"

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_report_descriptor: %s\n", what);
        std::abort();
    }
}

void CheckCollection(const hidraw::CollectionCaps& collection) {
    HidCaps caps;
    Check(hidraw::FillCaps(collection, &caps) == kHidpStatusSuccess, "caps refused");
    Check(caps.NumberLinkCollectionNodes >= 1, "no link collection node");
    const uint16_t lengths[] = {caps.InputReportByteLength, caps.OutputReportByteLength,
                                caps.FeatureReportByteLength};
    const uint16_t counts[] = {caps.NumberInputValueCaps, caps.NumberOutputValueCaps,
                               caps.NumberFeatureValueCaps};
    for (int kind = kHidpInput; kind <= kHidpFeature; ++kind) {
        const uint16_t length = lengths[kind];
        Check(length == 0 || length >= 2, "a report shorter than its id and one byte");
        Check(length <= hidraw::kMaxReportDataBytes + 1, "report longer than the limit");
        Check(collection.reportIds[static_cast<size_t>(kind)].empty() == (length == 0),
              "report ids and length disagree");
        const uint16_t total = counts[kind];
        std::vector<HidValueCaps> all(total + 1u);
        uint16_t got = static_cast<uint16_t>(total + 1u);
        const HidStatus status = hidraw::FillValueCaps(collection, kind, all.data(), &got);
        if (total == 0) {
            Check(status == kHidpStatusUsageNotFound && got == 0, "no caps, wrong answer");
            continue;
        }
        Check(length > 0, "value caps in a report that does not exist");
        Check(status == kHidpStatusSuccess && got == total, "room for all, not all given");
        for (uint16_t k = 0; k < total; ++k) {
            const HidValueCaps& v = all[k];
            const uint64_t bits = static_cast<uint64_t>(v.BitSize) * v.ReportCount;
            Check(v.BitSize > 1 && v.ReportCount > 0, "empty or one-bit value cap");
            Check(bits <= (static_cast<uint64_t>(length) - 1) * 8, "value cap outside its report");
            if (v.IsRange) {
                Check(v.Range.UsageMin <= v.Range.UsageMax, "backwards usage range");
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    hidraw::ParsedDescriptor parsed;
    std::string why;
    if (!hidraw::ParseReportDescriptor(data, size, parsed, why)) {
        Check(!why.empty(), "refused without a reason");
        Check(parsed.collections.empty(), "refused but collections left");
        return 0;
    }
    Check(why.empty(), "accepted with a reason");
    Check(!parsed.collections.empty(), "accepted without a collection");
    for (const hidraw::CollectionCaps& collection : parsed.collections) {
        CheckCollection(collection);
    }
    return 0;
}
