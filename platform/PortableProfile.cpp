// Our own private-profile (INI) reader and writer. It behaves like the Windows functions on
// everything the settings files rely on, and it edits files so that every line it does not
// have to change stays byte for byte as it was.
//
// The file is held as code units: bytes for files without a byte-order mark and for UTF-8
// with one, 16-bit units for UTF-16LE. The structure of an INI file ('[', ']', '=', blanks,
// line ends) is ASCII in every one of these encodings, so lines are parsed on the units and
// only names and values are converted. Reading and replacing the file itself is the
// business of each system (platform/posix, platform/win32: ProfileFile).
#include <cstdint>
#include <string>
#include <vector>

#include "platform/PrivateProfile.h"
#include "platform/ProfileFile.h"
#include "platform/Text.h"

namespace portable_profile {
namespace {

// GetPrivateProfileStringW is called with a 260-character buffer: at most 259 characters
// and the terminating zero.
constexpr size_t kValueBufferChars = 260;
constexpr size_t npos = std::u16string::npos;

enum class Encoding { Narrow, Utf8Bom, Utf16Le };

struct ProfileText {
    Encoding encoding = Encoding::Narrow;
    std::u16string units;          // without the byte-order mark
    bool oddTrailingByte = false;  // a UTF-16 file of odd length keeps its last byte
    uint8_t trailingByte = 0;
};

// ---- Text conversions ----------------------------------------------------------------

void AppendCodePoint(std::wstring& out, uint32_t cp) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
            return;
        }
    }
    out.push_back(static_cast<wchar_t>(cp));
}

// Code points of a wide string; lone surrogates come through as they are.
template <typename F>
void ForEachCodePoint(const std::wstring& text, F&& f) {
    for (size_t i = 0; i < text.size(); ++i) {
        auto cp = static_cast<uint32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
                const auto low = static_cast<uint32_t>(text[i + 1]);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        f(cp);
    }
}

std::wstring DecodeUtf8(const std::u16string& bytes) {
    std::wstring out;
    size_t i = 0;
    while (i < bytes.size()) {
        const uint32_t lead = bytes[i];
        size_t extra = 0;
        uint32_t cp = lead;
        uint32_t minimum = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
            cp = lead & 0x1F;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            cp = lead & 0x0F;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            cp = lead & 0x07;
            minimum = 0x10000;
        }
        bool valid = lead < 0x80 || extra > 0;
        for (size_t k = 1; valid && k <= extra; ++k) {
            if (i + k >= bytes.size() || (bytes[i + k] & 0xC0) != 0x80) {
                valid = false;
            } else {
                cp = (cp << 6) | (bytes[i + k] & 0x3F);
            }
        }
        if (valid && (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) {
            valid = false;
        }
        if (!valid) {
            out.push_back(static_cast<wchar_t>(0xFFFD));
            ++i;
            continue;
        }
        AppendCodePoint(out, cp);
        i += extra + 1;
    }
    return out;
}

std::u16string EncodeUtf8(const std::wstring& text) {
    std::u16string out;
    ForEachCodePoint(text, [&out](uint32_t cp) {
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char16_t>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char16_t>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char16_t>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char16_t>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char16_t>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char16_t>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char16_t>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char16_t>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char16_t>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char16_t>(0x80 | (cp & 0x3F)));
        }
    });
    return out;
}

std::u16string EncodeUtf16(const std::wstring& text) {
    std::u16string out;
    ForEachCodePoint(text, [&out](uint32_t cp) {
        if (cp > 0x10FFFF) {
            cp = 0xFFFD;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    });
    return out;
}

// Files without a byte-order mark are in the system's narrow code page, as the Windows
// functions take them (ANSI there, UTF-8 elsewhere).
std::wstring Decode(const ProfileText& text, size_t begin, size_t end) {
    const std::u16string part = text.units.substr(begin, end - begin);
    switch (text.encoding) {
        case Encoding::Utf16Le:
            return FromUtf16(part.data(), part.size());
        case Encoding::Utf8Bom:
            return DecodeUtf8(part);
        case Encoding::Narrow:
            break;
    }
    std::string bytes(part.size(), '\0');
    for (size_t i = 0; i < part.size(); ++i) {
        bytes[i] = static_cast<char>(part[i]);
    }
    return Widen(bytes);
}

std::u16string Encode(Encoding encoding, const std::wstring& text) {
    switch (encoding) {
        case Encoding::Utf16Le:
            return EncodeUtf16(text);
        case Encoding::Utf8Bom:
            return EncodeUtf8(text);
        case Encoding::Narrow:
            break;
    }
    const std::string bytes = Narrow(text);
    std::u16string out(bytes.size(), u'\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        out[i] = static_cast<unsigned char>(bytes[i]);
    }
    return out;
}

ProfileText ParseBytes(const std::string& bytes) {
    ProfileText text;
    const auto byte = [&bytes](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    size_t start = 0;
    if (bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
        text.encoding = Encoding::Utf8Bom;
        start = 3;
    } else if (bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
        text.encoding = Encoding::Utf16Le;
        start = 2;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    if (text.encoding == Encoding::Utf16Le) {
        const size_t count = (bytes.size() - start) / 2;
        text.units.resize(count);
        for (size_t i = 0; i < count; ++i) {
            const size_t at = start + 2 * i;
            text.units[i] = static_cast<char16_t>(in[at] | (in[at + 1] << 8));
        }
        if (start + 2 * count < bytes.size()) {
            text.oddTrailingByte = true;
            text.trailingByte = in[bytes.size() - 1];
        }
    } else {
        text.units.assign(in + start, in + bytes.size());
    }
    return text;
}

std::string SerializeBytes(const ProfileText& text) {
    std::string bytes;
    switch (text.encoding) {
        case Encoding::Utf16Le:
            bytes.reserve(2 + text.units.size() * 2 + 1);
            bytes += "\xFF\xFE";
            for (const char16_t unit : text.units) {
                bytes.push_back(static_cast<char>(unit & 0xFF));
                bytes.push_back(static_cast<char>(unit >> 8));
            }
            if (text.oddTrailingByte) {
                bytes.push_back(static_cast<char>(text.trailingByte));
            }
            return bytes;
        case Encoding::Utf8Bom:
            bytes += "\xEF\xBB\xBF";
            break;
        case Encoding::Narrow:
            break;
    }
    bytes.reserve(bytes.size() + text.units.size());
    for (const char16_t unit : text.units) {
        bytes.push_back(static_cast<char>(unit));
    }
    return bytes;
}

// ---- Parsing ---------------------------------------------------------------------------

// Blanks around names and values; 0x1A is the old end-of-file mark that some editors leave.
bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f' || c == u'\r' || c == u'\n' ||
           c == 0x1A;
}

char16_t FoldAscii(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

bool NamesEqual(const std::u16string& units, size_t begin, size_t end, const std::u16string& name) {
    if (end - begin != name.size()) {
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        if (FoldAscii(units[begin + i]) != FoldAscii(name[i])) {
            return false;
        }
    }
    return true;
}

bool IsBlankWide(wchar_t c) {
    return static_cast<uint32_t>(c) < 0x80 && IsBlank(static_cast<char16_t>(c));
}

std::wstring TrimBlanks(const std::wstring& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlankWide(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlankWide(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

struct Line {
    size_t begin = 0;  // content, without the line end
    size_t end = 0;
    size_t next = 0;  // start of the next line; end..next is the line end ("", LF, CR, CRLF)
};

std::vector<Line> SplitLines(const std::u16string& units) {
    std::vector<Line> lines;
    const char16_t* text = units.data();
    const size_t size = units.size();
    size_t pos = 0;
    while (pos < size) {
        Line line;
        line.begin = pos;
        while (pos < size && text[pos] != u'\r' && text[pos] != u'\n') {
            ++pos;
        }
        line.end = pos;
        if (pos < size) {
            pos += (text[pos] == u'\r' && pos + 1 < size && text[pos + 1] == u'\n') ? 2 : 1;
        }
        line.next = pos;
        lines.push_back(line);
    }
    return lines;
}

enum class LineKind { Blank, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Blank;
    size_t nameBegin = 0;
    size_t nameEnd = 0;
    bool hasValue = false;  // the line has an '='
    size_t valueBegin = 0;  // value with surrounding blanks removed
    size_t valueEnd = 0;
};

ParsedLine ParseLine(const std::u16string& units, const Line& line) {
    ParsedLine parsed;
    size_t begin = line.begin;
    size_t end = line.end;
    while (begin < end && IsBlank(units[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(units[end - 1])) {
        --end;
    }
    if (begin == end) {
        return parsed;
    }
    if (units[begin] == u'[') {
        // The name runs to the last ']' on the line; a '[' line without one is an
        // ordinary line.
        size_t close = end - 1;
        while (close > begin && units[close] != u']') {
            --close;
        }
        if (close > begin) {
            parsed.kind = LineKind::Section;
            parsed.nameBegin = begin + 1;
            parsed.nameEnd = close;
            return parsed;
        }
    }
    parsed.kind = LineKind::Key;
    parsed.nameBegin = begin;
    size_t equals = begin;
    while (equals < end && units[equals] != u'=') {
        ++equals;
    }
    if (equals == end) {
        parsed.nameEnd = end;
        return parsed;
    }
    size_t nameEnd = equals;
    while (nameEnd > begin && IsBlank(units[nameEnd - 1])) {
        --nameEnd;
    }
    parsed.nameEnd = nameEnd;
    parsed.hasValue = true;
    size_t valueBegin = equals + 1;
    while (valueBegin < end && IsBlank(units[valueBegin])) {
        ++valueBegin;
    }
    parsed.valueBegin = valueBegin;
    parsed.valueEnd = end;
    return parsed;
}

struct Lookup {
    bool sectionFound = false;
    size_t keyLine = npos;          // index into lines
    ParsedLine key;                 // the key's line when found
    size_t lastContentLine = npos;  // the section's last non-blank line (its header included)
};

// Finds the first section of that name and the first key of that name inside it. Lines
// before the first section header form a section with an empty name.
Lookup Find(const std::u16string& units, const std::vector<Line>& lines,
            const std::u16string& section, const std::u16string& key) {
    Lookup result;
    bool inSection = section.empty();
    result.sectionFound = inSection;
    for (size_t i = 0; i < lines.size(); ++i) {
        const ParsedLine parsed = ParseLine(units, lines[i]);
        if (parsed.kind == LineKind::Section) {
            if (result.sectionFound) {
                break;
            }
            if (NamesEqual(units, parsed.nameBegin, parsed.nameEnd, section)) {
                inSection = true;
                result.sectionFound = true;
                result.lastContentLine = i;
            }
            continue;
        }
        if (!inSection || parsed.kind == LineKind::Blank) {
            continue;
        }
        result.lastContentLine = i;
        if (result.keyLine == npos && NamesEqual(units, parsed.nameBegin, parsed.nameEnd, key)) {
            result.keyLine = i;
            result.key = parsed;
        }
    }
    return result;
}

// The value as GetPrivateProfileStringW hands it over in a 260-character buffer: a value
// in matching quotes loses them, and the text stops at 259 characters or a zero.
std::wstring BufferedValue(std::wstring value) {
    const size_t zero = value.find(L'\0');
    if (zero != std::wstring::npos) {
        value.resize(zero);
    }
    bool quoted = false;
    if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') &&
        value.back() == value.front()) {
        quoted = true;
        value.erase(0, 1);
    }
    const size_t unquotedLength = value.size();
    if (value.size() > kValueBufferChars - 1) {
        value.resize(kValueBufferChars - 1);
    }
    if (quoted && kValueBufferChars >= unquotedLength && !value.empty()) {
        value.pop_back();
    }
    return value;
}

bool HasLineEnd(const std::wstring& text) {
    return text.find_first_of(L"\r\n") != std::wstring::npos;
}

}  // namespace

uint32_t ReadStringFromBytes(const std::string& bytes, const std::wstring& section,
                             const std::wstring& key, std::wstring& value) {
    value.clear();
    const ProfileText text = ParseBytes(bytes);
    const std::vector<Line> lines = SplitLines(text.units);
    const Lookup found = Find(text.units, lines, Encode(text.encoding, TrimBlanks(section)),
                              Encode(text.encoding, TrimBlanks(key)));
    if (found.keyLine == npos || !found.key.hasValue) {
        return 0;
    }
    value = BufferedValue(Decode(text, found.key.valueBegin, found.key.valueEnd));
    return static_cast<uint32_t>(value.size());
}

bool WriteStringToBytes(const std::string& bytes, const std::wstring& section,
                        const std::wstring& key, const std::wstring& value, std::string& result) {
    result = bytes;
    ProfileText text = ParseBytes(bytes);
    const std::vector<Line> lines = SplitLines(text.units);

    const std::wstring sectionName = TrimBlanks(section);
    const std::wstring keyName = TrimBlanks(key);
    size_t first = 0;
    while (first < value.size() && IsBlankWide(value[first])) {
        ++first;
    }
    const std::wstring newValue = value.substr(first);

    const Lookup found =
        Find(text.units, lines, Encode(text.encoding, sectionName), Encode(text.encoding, keyName));

    // New lines end like the file's first line does; a new file gets CRLF.
    std::u16string lineEnd = u"\r\n";
    if (!lines.empty() && lines.front().next > lines.front().end) {
        lineEnd = text.units.substr(lines.front().end, lines.front().next - lines.front().end);
    }
    const std::u16string keyText =
        Encode(text.encoding, keyName) + u"=" + Encode(text.encoding, newValue);

    std::u16string& units = text.units;
    if (found.keyLine != npos) {
        const ParsedLine& line = found.key;
        if (line.hasValue) {
            if (Decode(text, line.valueBegin, line.valueEnd) == newValue) {
                return false;
            }
            // Only the value changes; the key's spelling and the blanks around '=' stay.
            units.replace(line.valueBegin, line.valueEnd - line.valueBegin,
                          Encode(text.encoding, newValue));
        } else {
            units.insert(lines[found.keyLine].end, u"=" + Encode(text.encoding, newValue));
        }
    } else if (found.sectionFound) {
        // After the section's last non-blank line, so blank lines before the next section
        // stay where they are.
        if (found.lastContentLine == npos) {
            units.insert(0, keyText + lineEnd);
        } else {
            const Line& last = lines[found.lastContentLine];
            if (last.next == last.end) {
                units.insert(last.end, lineEnd + keyText + lineEnd);  // no line end at the end
            } else {
                units.insert(last.next, keyText + lineEnd);
            }
        }
    } else {
        if (!units.empty() && units.back() != u'\n' && units.back() != u'\r') {
            units += lineEnd;
        }
        units += u"[" + Encode(text.encoding, sectionName) + u"]" + lineEnd + keyText + lineEnd;
    }
    result = SerializeBytes(text);
    return true;
}

uint32_t ReadString(const std::wstring& section, const std::wstring& key, const std::wstring& path,
                    std::wstring& value) {
    value.clear();
    std::string bytes;
    bool exists = false;
    uint32_t error = 0;
    if (!LoadProfileFile(path, false, bytes, exists, error) || !exists) {
        return 0;
    }
    return ReadStringFromBytes(bytes, section, key, value);
}

bool WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                 const std::wstring& path, uint32_t& error) {
    error = 0;
    // A line end inside a name or value would add lines of its own to the file.
    if (HasLineEnd(section) || HasLineEnd(key) || HasLineEnd(value)) {
        error = InvalidParameterError();
        return false;
    }
    std::string bytes;
    bool exists = false;
    if (!LoadProfileFile(path, true, bytes, exists, error)) {
        return false;
    }
    error = 0;
    std::string result;
    if (!WriteStringToBytes(bytes, section, key, value, result)) {
        return true;  // the file already holds that value
    }
    return StoreProfileFile(path, result, exists, error);
}

}  // namespace portable_profile
