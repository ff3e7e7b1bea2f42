#include "hid/ReportDescriptor.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace hidraw {
namespace {

// Item types and tags of HID 1.11, section 6.2.2.
enum ItemType : uint8_t { kMain = 0, kGlobal = 1, kLocal = 2, kReserved = 3 };

enum MainTag : uint8_t {
    kInput = 0x8,
    kOutput = 0x9,
    kCollection = 0xA,
    kFeature = 0xB,
    kEndCollection = 0xC,
};

enum GlobalTag : uint8_t {
    kUsagePage = 0x0,
    kLogicalMin = 0x1,
    kLogicalMax = 0x2,
    kPhysicalMin = 0x3,
    kPhysicalMax = 0x4,
    kUnitExponent = 0x5,
    kUnit = 0x6,
    kReportSize = 0x7,
    kReportId = 0x8,
    kReportCount = 0x9,
    kPush = 0xA,
    kPop = 0xB,
};

enum LocalTag : uint8_t {
    kUsage = 0x0,
    kUsageMin = 0x1,
    kUsageMax = 0x2,
};

constexpr uint8_t kLongItemPrefix = 0xFE;

// Main item data bits.
constexpr uint32_t kConstant = 0x01;
constexpr uint32_t kVariable = 0x02;

struct GlobalState {
    uint16_t usagePage = 0;
    int32_t logicalMin = 0;
    int32_t logicalMax = 0;
    int32_t physicalMin = 0;
    int32_t physicalMax = 0;
    uint32_t unitExponent = 0;
    uint32_t unit = 0;
    uint32_t reportSize = 0;
    uint32_t reportCount = 0;
    uint8_t reportId = 0;
};

// One Usage item, or a Usage Minimum / Maximum pair. The page is known once the main item
// comes (a short usage takes the page current then), unless the item carried its own.
struct UsageEntry {
    bool extended = false;  // a four-byte usage: the page is in the high half
    uint16_t page = 0;
    uint16_t min = 0;
    uint16_t max = 0;
};

struct LocalState {
    std::vector<UsageEntry> usages;
    bool haveMin = false;
    uint32_t pendingMin = 0;
    uint8_t pendingMinSize = 0;
};

struct OpenCollection {
    uint16_t index;  // link collection index within the top-level collection
    uint16_t usagePage;
    uint16_t usage;
};

class Parser {
public:
    Parser(ParsedDescriptor& result, std::string& reason) : out(result), why(reason) {}

    bool run(const uint8_t* data, size_t size) {
        size_t at = 0;
        while (at < size) {
            const uint8_t prefix = data[at];
            if (prefix == kLongItemPrefix) {
                // Long items carry no meaning HID 1.11 defines: skipped whole.
                if (size - at < 3) {
                    return fail("long item truncated");
                }
                const size_t length = data[at + 1];
                if (size - at - 3 < length) {
                    return fail("long item truncated");
                }
                at += 3 + length;
                continue;
            }
            static constexpr uint8_t kSizes[4] = {0, 1, 2, 4};
            const uint8_t length = kSizes[prefix & 3];
            if (size - at - 1 < length) {
                return fail("item truncated");
            }
            uint32_t value = 0;
            for (uint8_t k = 0; k < length; ++k) {
                value |= static_cast<uint32_t>(data[at + 1 + k]) << (8 * k);
            }
            const auto type = static_cast<uint8_t>((prefix >> 2) & 3);
            const auto tag = static_cast<uint8_t>(prefix >> 4);
            at += 1 + length;
            bool ok = true;
            switch (type) {
                case kMain:
                    ok = mainItem(tag, value);
                    break;
                case kGlobal:
                    ok = globalItem(tag, value, length);
                    break;
                case kLocal:
                    ok = localItem(tag, value, length);
                    break;
                default:
                    ok = fail("reserved item type");
                    break;
            }
            if (!ok) {
                return false;
            }
        }
        if (!open.empty()) {
            return fail("collection not closed");
        }
        if (out.collections.empty()) {
            return fail("no top-level collection");
        }
        return true;
    }

private:
    ParsedDescriptor& out;
    std::string& why;
    GlobalState global;
    std::vector<GlobalState> stack;
    LocalState local;
    std::vector<OpenCollection> open;
    uint16_t nextLinkIndex = 0;
    // Bits of every report of the current top-level collection, by kind and report id.
    std::array<std::map<uint8_t, uint32_t>, kReportKinds> reportBits;
    std::array<uint16_t, kReportKinds> nextDataIndex{};

    bool fail(const char* reason) {
        why = reason;
        return false;
    }

    static int32_t Signed(uint32_t value, uint8_t length) {
        switch (length) {
            case 1:
                return static_cast<int8_t>(value);
            case 2:
                return static_cast<int16_t>(value);
            default:
                return static_cast<int32_t>(value);
        }
    }

    bool globalItem(uint8_t tag, uint32_t value, uint8_t length) {
        switch (tag) {
            case kUsagePage:
                if (value > 0xFFFF) {
                    return fail("usage page beyond 16 bits");
                }
                global.usagePage = static_cast<uint16_t>(value);
                return true;
            case kLogicalMin:
                global.logicalMin = Signed(value, length);
                return true;
            case kLogicalMax:
                global.logicalMax = Signed(value, length);
                return true;
            case kPhysicalMin:
                global.physicalMin = Signed(value, length);
                return true;
            case kPhysicalMax:
                global.physicalMax = Signed(value, length);
                return true;
            case kUnitExponent:
                global.unitExponent = value;
                return true;
            case kUnit:
                global.unit = value;
                return true;
            case kReportSize:
                if (value > kMaxReportSizeBits) {
                    return fail("report size too large");
                }
                global.reportSize = value;
                return true;
            case kReportId:
                if (value == 0 || value > 0xFF) {
                    return fail("report id out of range");
                }
                global.reportId = static_cast<uint8_t>(value);
                out.numberedReports = true;
                return true;
            case kReportCount:
                if (value > kMaxReportDataBytes * 8) {
                    return fail("report count too large");
                }
                global.reportCount = value;
                return true;
            case kPush:
                if (stack.size() >= kMaxPushDepth) {
                    return fail("push nested too deep");
                }
                stack.push_back(global);
                return true;
            case kPop:
                if (stack.empty()) {
                    return fail("pop without push");
                }
                global = stack.back();
                stack.pop_back();
                return true;
            default:
                return fail("reserved global item");
        }
    }

    bool addUsage(const UsageEntry& entry) {
        if (local.usages.size() >= kMaxLocalUsages) {
            return fail("too many usages");
        }
        local.usages.push_back(entry);
        return true;
    }

    static UsageEntry Entry(uint32_t value, uint8_t length) {
        UsageEntry entry;
        entry.extended = length == 4;
        entry.page = static_cast<uint16_t>(value >> 16);
        entry.min = static_cast<uint16_t>(value & 0xFFFF);
        entry.max = entry.min;
        return entry;
    }

    bool localItem(uint8_t tag, uint32_t value, uint8_t length) {
        switch (tag) {
            case kUsage:
                return addUsage(Entry(value, length));
            case kUsageMin:
                local.haveMin = true;
                local.pendingMin = value;
                local.pendingMinSize = length;
                return true;
            case kUsageMax: {
                if (!local.haveMin) {
                    return fail("usage maximum without minimum");
                }
                UsageEntry entry = Entry(local.pendingMin, local.pendingMinSize);
                const UsageEntry last = Entry(value, length);
                if (entry.extended != last.extended ||
                    (entry.extended && entry.page != last.page)) {
                    return fail("usage range across pages");
                }
                if (last.min < entry.min) {
                    return fail("usage maximum below minimum");
                }
                entry.max = last.min;
                local.haveMin = false;
                return addUsage(entry);
            }
            default:
                // Designators, strings and delimiters say nothing the caps need.
                return true;
        }
    }

    uint16_t PageOf(const UsageEntry& entry) const {
        return entry.extended ? entry.page : global.usagePage;
    }

    bool mainItem(uint8_t tag, uint32_t value) {
        bool ok = true;
        switch (tag) {
            case kCollection:
                ok = beginCollection();
                break;
            case kEndCollection:
                ok = endCollection();
                break;
            case kInput:
                ok = dataItem(kHidpInput, value);
                break;
            case kOutput:
                ok = dataItem(kHidpOutput, value);
                break;
            case kFeature:
                ok = dataItem(kHidpFeature, value);
                break;
            default:
                ok = fail("reserved main item");
                break;
        }
        local = LocalState{};
        return ok;
    }

    bool beginCollection() {
        if (open.size() >= kMaxCollectionDepth) {
            return fail("collections nested too deep");
        }
        uint16_t page = global.usagePage;
        uint16_t usage = 0;
        if (!local.usages.empty()) {
            page = PageOf(local.usages.front());
            usage = local.usages.front().min;
        }
        if (open.empty()) {
            CollectionCaps top;
            top.usagePage = page;
            top.usage = usage;
            top.linkCollectionNodes = 0;
            out.collections.push_back(std::move(top));
            nextLinkIndex = 0;
            reportBits = {};
            nextDataIndex = {};
        }
        CollectionCaps& top = out.collections.back();
        if (top.linkCollectionNodes == 0xFFFF) {
            return fail("too many collections");
        }
        ++top.linkCollectionNodes;
        open.push_back(OpenCollection{nextLinkIndex++, page, usage});
        return true;
    }

    bool endCollection() {
        if (open.empty()) {
            return fail("end collection without collection");
        }
        open.pop_back();
        if (open.empty()) {
            CollectionCaps& top = out.collections.back();
            for (size_t kind = 0; kind < kReportKinds; ++kind) {
                uint32_t longest = 0;
                for (const auto& [id, bits] : reportBits[kind]) {
                    longest = std::max(longest, bits);
                    top.reportIds[kind].push_back(id);
                }
                // Whole bytes, and one for the report id whether the device numbers its
                // reports or not: what Windows hands to ReadFile and HidD_GetFeature.
                top.reportBytes[kind] =
                    reportBits[kind].empty() ? 0 : static_cast<uint16_t>((longest + 7) / 8 + 1);
            }
        }
        return true;
    }

    bool dataItem(int kind, uint32_t flags) {
        if (open.empty()) {
            return fail("data item outside a collection");
        }
        const uint32_t bits = global.reportSize * global.reportCount;
        if (bits == 0) {
            // Nothing on the wire: no report, no capability.
            return true;
        }
        uint32_t& total = reportBits[kind][global.reportId];
        if (bits > kMaxReportDataBytes * 8 - total) {
            return fail("report too long");
        }
        total += bits;

        CollectionCaps& top = out.collections.back();
        if (flags & kConstant) {
            return true;  // padding
        }
        const bool variable = (flags & kVariable) != 0;
        if (!variable || global.reportSize == 1) {
            // Arrays and one-bit fields are buttons: counted, no value capability.
            const size_t caps = std::max<size_t>(1, local.usages.size());
            top.buttonCaps[kind] =
                static_cast<uint16_t>(std::min<size_t>(0xFFFF, top.buttonCaps[kind] + caps));
            uint32_t indices = 0;
            for (const UsageEntry& entry : local.usages) {
                indices += static_cast<uint32_t>(entry.max - entry.min) + 1;
            }
            addDataIndices(kind, std::max<uint32_t>(indices, 1));
            return true;
        }

        ValueCap cap;
        cap.reportId = global.reportId;
        cap.bitField = static_cast<uint16_t>(flags & 0x1FF);
        cap.linkCollection = open.back().index;
        cap.linkUsagePage = open.back().usagePage;
        cap.linkUsage = open.back().usage;
        cap.bitSize = static_cast<uint16_t>(global.reportSize);
        cap.unitExponent = global.unitExponent;
        cap.unit = global.unit;
        cap.logicalMin = global.logicalMin;
        cap.logicalMax = global.logicalMax;
        cap.physicalMin = global.physicalMin;
        cap.physicalMax = global.physicalMax;

        auto& caps = top.valueCaps[kind];
        if (local.usages.empty()) {
            cap.usagePage = global.usagePage;
            cap.reportCount = static_cast<uint16_t>(global.reportCount);
            return addValueCap(kind, caps, cap, 1);
        }
        // Each usage takes one field (a range as many as it names); the last takes the rest.
        uint32_t left = global.reportCount;
        for (size_t k = 0; k < local.usages.size() && left > 0; ++k) {
            const UsageEntry& entry = local.usages[k];
            const uint32_t named = static_cast<uint32_t>(entry.max - entry.min) + 1;
            const bool last = k + 1 == local.usages.size();
            const uint32_t count = last ? left : std::min(named, left);
            left -= count;
            ValueCap one = cap;
            one.usagePage = PageOf(entry);
            one.isRange = entry.max != entry.min;
            one.usage = entry.min;
            one.usageMax = entry.max;
            one.reportCount = static_cast<uint16_t>(count);
            if (!addValueCap(kind, caps, one, named)) {
                return false;
            }
        }
        return true;
    }

    bool addValueCap(int kind, std::vector<ValueCap>& caps, ValueCap cap, uint32_t indices) {
        if (caps.size() >= 0xFFFF) {
            return fail("too many value capabilities");
        }
        cap.dataIndex = nextDataIndex[kind];
        caps.push_back(cap);
        addDataIndices(kind, indices);
        return true;
    }

    void addDataIndices(int kind, uint32_t indices) {
        const uint32_t next = std::min<uint32_t>(0xFFFF, nextDataIndex[kind] + indices);
        nextDataIndex[kind] = static_cast<uint16_t>(next);
        out.collections.back().dataIndices[kind] = static_cast<uint16_t>(next);
    }
};

bool KnownKind(int reportType) {
    return reportType == kHidpInput || reportType == kHidpOutput || reportType == kHidpFeature;
}

}  // namespace

bool ParseReportDescriptor(const uint8_t* data, size_t size, ParsedDescriptor& out,
                           std::string& why) {
    out = ParsedDescriptor{};
    why.clear();
    if (data == nullptr || size == 0) {
        why = "empty descriptor";
        return false;
    }
    if (size > kMaxDescriptorBytes) {
        why = "descriptor longer than 4096 bytes";
        return false;
    }
    Parser parser(out, why);
    if (!parser.run(data, size)) {
        out = ParsedDescriptor{};
        return false;
    }
    return true;
}

HidStatus FillCaps(const CollectionCaps& collection, HidCaps* caps) {
    if (caps == nullptr) {
        return kHidpStatusInvalidPreparsedData;
    }
    std::memset(caps, 0, sizeof(HidCaps));
    caps->UsagePage = collection.usagePage;
    caps->Usage = collection.usage;
    caps->InputReportByteLength = collection.reportBytes[kHidpInput];
    caps->OutputReportByteLength = collection.reportBytes[kHidpOutput];
    caps->FeatureReportByteLength = collection.reportBytes[kHidpFeature];
    caps->NumberLinkCollectionNodes = collection.linkCollectionNodes;
    const auto count = [&](int kind) {
        return static_cast<uint16_t>(collection.valueCaps[static_cast<size_t>(kind)].size());
    };
    caps->NumberInputButtonCaps = collection.buttonCaps[kHidpInput];
    caps->NumberInputValueCaps = count(kHidpInput);
    caps->NumberInputDataIndices = collection.dataIndices[kHidpInput];
    caps->NumberOutputButtonCaps = collection.buttonCaps[kHidpOutput];
    caps->NumberOutputValueCaps = count(kHidpOutput);
    caps->NumberOutputDataIndices = collection.dataIndices[kHidpOutput];
    caps->NumberFeatureButtonCaps = collection.buttonCaps[kHidpFeature];
    caps->NumberFeatureValueCaps = count(kHidpFeature);
    caps->NumberFeatureDataIndices = collection.dataIndices[kHidpFeature];
    return kHidpStatusSuccess;
}

HidStatus FillValueCaps(const CollectionCaps& collection, int reportType, HidValueCaps* valueCaps,
                        uint16_t* length) {
    if (length == nullptr) {
        return kHidpStatusInvalidPreparsedData;
    }
    if (!KnownKind(reportType)) {
        return kHidpStatusInvalidReportType;
    }
    const std::vector<ValueCap>& caps = collection.valueCaps[static_cast<size_t>(reportType)];
    if (caps.empty()) {
        *length = 0;
        return kHidpStatusUsageNotFound;
    }
    const size_t room = valueCaps == nullptr ? 0 : *length;
    const size_t filled = std::min(room, caps.size());
    for (size_t k = 0; k < filled; ++k) {
        const ValueCap& cap = caps[k];
        HidValueCaps& v = valueCaps[k];
        std::memset(&v, 0, sizeof v);
        v.UsagePage = cap.usagePage;
        v.ReportID = cap.reportId;
        v.BitField = cap.bitField;
        v.LinkCollection = cap.linkCollection;
        v.LinkUsage = cap.linkUsage;
        v.LinkUsagePage = cap.linkUsagePage;
        v.IsRange = cap.isRange ? 1 : 0;
        v.IsAbsolute = (cap.bitField & 0x04) == 0 ? 1 : 0;
        v.HasNull = (cap.bitField & 0x40) != 0 ? 1 : 0;
        v.BitSize = cap.bitSize;
        v.ReportCount = cap.reportCount;
        v.UnitsExp = cap.unitExponent;
        v.Units = cap.unit;
        v.LogicalMin = cap.logicalMin;
        v.LogicalMax = cap.logicalMax;
        v.PhysicalMin = cap.physicalMin;
        v.PhysicalMax = cap.physicalMax;
        if (cap.isRange) {
            v.Range.UsageMin = cap.usage;
            v.Range.UsageMax = cap.usageMax;
            v.Range.DataIndexMin = cap.dataIndex;
            v.Range.DataIndexMax =
                static_cast<uint16_t>(cap.dataIndex + (cap.usageMax - cap.usage));
        } else {
            v.NotRange.Usage = cap.usage;
            v.NotRange.DataIndex = cap.dataIndex;
        }
    }
    *length = static_cast<uint16_t>(filled);
    return filled < caps.size() ? kHidpStatusBufferTooSmall : kHidpStatusSuccess;
}

}  // namespace hidraw
