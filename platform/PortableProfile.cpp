// Our own private-profile (INI) reader and writer. It behaves like the Windows functions on
// everything the settings files rely on, and it edits files so that every line it does not
// have to change stays byte for byte as it was.
//
// The file is seen as code units: bytes for files without a byte-order mark and for UTF-8
// with one, 16-bit units for UTF-16 of either byte order. The structure of an INI file ('[',
// ']', '=', blanks, line ends) is ASCII in every one of these encodings, so lines are parsed
// on the units in place and only names and values are converted. A file is parsed in one
// pass per operation, whatever its size, and nothing per line is kept: reading needs the
// file's bytes and little more. Reading and replacing the file itself is the business of
// each system (platform/posix, platform/win32: ProfileFile, ReplaceFile).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/PrivateProfile.h"
#include "platform/ProfileFile.h"
#include "platform/ReplaceFile.h"
#include "platform/Text.h"

namespace portable_profile {
namespace {

// GetPrivateProfileStringW is called with a 260-character buffer: at most 259 characters
// and the terminating zero.
constexpr size_t kValueBufferChars = 260;

enum class Encoding { Narrow, Utf8Bom, Utf16Le, Utf16Be };

// ---- The file as code units ------------------------------------------------------------

// A view of the file's bytes as code units, without copying them. A UTF-16 file of odd
// length ends in a unit holding its last byte, as Windows reads it.
class Units {
public:
    explicit Units(const std::string& bytes)
        : data(reinterpret_cast<const unsigned char*>(bytes.data())), byteCount(bytes.size()) {
        const auto starts = [this](const char* mark, size_t length) {
            return byteCount >= length && std::memcmp(data, mark, length) == 0;
        };
        if (starts("\xEF\xBB\xBF", 3)) {
            enc = Encoding::Utf8Bom;
            start = 3;
        } else if (starts("\xFF\xFE", 2)) {
            enc = Encoding::Utf16Le;
            start = 2;
        } else if (starts("\xFE\xFF", 2)) {
            enc = Encoding::Utf16Be;
            start = 2;
        }
        wide = enc == Encoding::Utf16Le || enc == Encoding::Utf16Be;
        count = wide ? (byteCount - start + 1) / 2 : byteCount - start;
    }

    Encoding encoding() const { return enc; }
    size_t size() const { return count; }
    bool empty() const { return count == 0; }
    // True when the last unit is a lone byte that a rewrite stores as a whole unit.
    bool oddLength() const { return wide && (byteCount - start) % 2 != 0; }
    size_t byteOffset(size_t unit) const { return start + (wide ? 2 * unit : unit); }

    char16_t operator[](size_t i) const {
        if (!wide) {
            return data[start + i];
        }
        const size_t at = start + 2 * i;
        if (at + 1 == byteCount) {
            return data[at];
        }
        return enc == Encoding::Utf16Le ? static_cast<char16_t>(data[at] | (data[at + 1] << 8))
                                        : static_cast<char16_t>((data[at] << 8) | data[at + 1]);
    }

    std::u16string substr(size_t begin, size_t end) const {
        std::u16string part(end - begin, u'\0');
        for (size_t i = begin; i < end; ++i) {
            part[i - begin] = (*this)[i];
        }
        return part;
    }

private:
    const unsigned char* data;
    size_t byteCount;
    size_t start = 0;
    size_t count = 0;
    bool wide = false;
    Encoding enc = Encoding::Narrow;
};

// Files without a byte-order mark are in the system's narrow code page, as the Windows
// functions take them (ANSI there, UTF-8 elsewhere).
std::wstring Decode(const Units& units, size_t begin, size_t end) {
    const std::u16string part = units.substr(begin, end);
    if (units.encoding() == Encoding::Utf16Le || units.encoding() == Encoding::Utf16Be) {
        return FromUtf16(part.data(), part.size());
    }
    std::string bytes(part.size(), '\0');
    for (size_t i = 0; i < part.size(); ++i) {
        bytes[i] = static_cast<char>(part[i]);
    }
    return units.encoding() == Encoding::Utf8Bom ? FromUtf8(bytes) : Widen(bytes);
}

// Text as the file's code units.
std::u16string EncodeUnits(Encoding encoding, const std::wstring& text) {
    if (encoding == Encoding::Utf16Le || encoding == Encoding::Utf16Be) {
        return ToUtf16(text);
    }
    const std::string bytes = encoding == Encoding::Utf8Bom ? ToUtf8(text) : Narrow(text);
    std::u16string out(bytes.size(), u'\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        out[i] = static_cast<unsigned char>(bytes[i]);
    }
    return out;
}

// Code units as the file's bytes.
std::string UnitBytes(Encoding encoding, const std::u16string& units) {
    std::string bytes;
    const bool wide = encoding == Encoding::Utf16Le || encoding == Encoding::Utf16Be;
    bytes.reserve(units.size() * (wide ? 2 : 1));
    for (const char16_t unit : units) {
        const auto low = static_cast<char>(unit & 0xFF);
        const auto high = static_cast<char>(unit >> 8);
        if (encoding == Encoding::Utf16Le) {
            bytes += {low, high};
        } else if (encoding == Encoding::Utf16Be) {
            bytes += {high, low};
        } else {
            bytes.push_back(low);
        }
    }
    return bytes;
}

// ---- Parsing ---------------------------------------------------------------------------

// Blanks around names and values, also inside a section's brackets; 0x1A is the old
// end-of-file mark that some editors leave.
bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f' || c == u'\r' || c == u'\n' ||
           c == 0x1A;
}

char16_t FoldAscii(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

// Names in the file end at a zero, as the Windows functions see them; the name asked for
// has none.
bool NamesEqual(const Units& units, size_t begin, size_t end, const std::u16string& name) {
    if (end - begin < name.size()) {
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        const char16_t c = units[begin + i];
        if (c == 0 || FoldAscii(c) != FoldAscii(name[i])) {
            return false;
        }
    }
    return begin + name.size() == end || units[begin + name.size()] == 0;
}

bool NamesFold(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

bool IsBlankWide(wchar_t c) {
    return static_cast<uint32_t>(c) < 0x80 && IsBlank(static_cast<char16_t>(c));
}

// A name or value as the Windows functions take it: up to a zero, without surrounding blanks.
std::wstring TrimBlanks(const std::wstring& text) {
    size_t begin = 0;
    size_t end = std::min(text.size(), text.find(L'\0'));
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

Line LineAt(const Units& units, size_t pos) {
    Line line;
    line.begin = pos;
    const size_t size = units.size();
    while (pos < size && units[pos] != u'\r' && units[pos] != u'\n') {
        ++pos;
    }
    line.end = pos;
    if (pos < size) {
        pos += (units[pos] == u'\r' && pos + 1 < size && units[pos + 1] == u'\n') ? 2 : 1;
    }
    line.next = pos;
    return line;
}

enum class LineKind { Blank, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Blank;
    size_t nameBegin = 0;  // section or key name, without surrounding blanks
    size_t nameEnd = 0;
    bool hasValue = false;  // the line has an '='
    size_t valueBegin = 0;  // value with surrounding blanks removed
    size_t valueEnd = 0;
};

void TrimRange(const Units& units, size_t& begin, size_t& end) {
    while (begin < end && IsBlank(units[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(units[end - 1])) {
        --end;
    }
}

ParsedLine ParseLine(const Units& units, const Line& line) {
    ParsedLine parsed;
    size_t begin = line.begin;
    size_t end = line.end;
    TrimRange(units, begin, end);
    if (begin == end) {
        return parsed;
    }
    if (units[begin] == u'[') {
        // The name runs to the last ']' on the line, blanks inside the brackets removed
        // ("[ General ]" is "General"); a '[' line without one is an ordinary line.
        size_t close = end - 1;
        while (close > begin && units[close] != u']') {
            --close;
        }
        if (close > begin) {
            parsed.kind = LineKind::Section;
            parsed.nameBegin = begin + 1;
            parsed.nameEnd = close;
            TrimRange(units, parsed.nameBegin, parsed.nameEnd);
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

// The value as GetPrivateProfileStringW hands it over in a 260-character buffer: the text
// stops at a zero, a value in matching quotes loses them, and at most 259 characters fit.
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

// BufferedValue of the units begin..end, converting only what can reach the buffer: a value
// of many megabytes costs no more than its first few hundred characters.
std::wstring ValueText(const Units& units, size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
        if (units[i] == 0) {
            end = i;
            break;
        }
    }
    // At most four units (UTF-8 bytes) a character: this many units hold more characters
    // than the buffer, quotes included.
    constexpr size_t kDecodeLimit = 4 * (kValueBufferChars + 4);
    if (end - begin <= kDecodeLimit) {
        return BufferedValue(Decode(units, begin, end));
    }
    const char16_t first = units[begin];
    const bool quoted = (first == u'"' || first == u'\'') && units[end - 1] == first;
    std::wstring value = Decode(units, begin + (quoted ? 1 : 0), begin + kDecodeLimit);
    value.resize(kValueBufferChars - 1);
    return value;
}

// ---- Finding names ---------------------------------------------------------------------

// One name asked for, followed through one pass over the file. Only the first section of a
// name counts, and in it only the first line with the key; lines before the first section
// header form a section with an empty name.
struct Search {
    std::u16string section;
    std::u16string key;
    bool sectionSeen = false;  // a header of that name came (or the name is empty)
    bool inSection = false;    // the lines now read belong to that section
    bool keyFound = false;
    ParsedLine keyLine;
    Line keyLineBounds;
    bool done = false;        // nothing further in the file can change the answer
    bool hasContent = false;  // the section has a non-blank line (its header counts)
    Line lastContent;         // the last of them

    Search(const std::u16string& sectionName, const std::u16string& keyName)
        : section(sectionName), key(keyName) {
        sectionSeen = inSection = section.empty();
    }
};

// Runs every search through the file in one pass, stopping once all are done.
void RunSearches(const Units& units, std::vector<Search>& searches) {
    // Searches in the same section (the settings ask five sections for 17 keys) compare each
    // section header once.
    std::vector<size_t> firstOfSection(searches.size());
    for (size_t i = 0; i < searches.size(); ++i) {
        size_t first = 0;
        while (!NamesFold(searches[first].section, searches[i].section)) {
            ++first;
        }
        firstOfSection[i] = first;
    }
    std::vector<signed char> headerMatches(searches.size());

    size_t pending = searches.size();
    for (size_t pos = 0; pos < units.size() && pending > 0;) {
        const Line line = LineAt(units, pos);
        pos = line.next;
        const ParsedLine parsed = ParseLine(units, line);
        if (parsed.kind == LineKind::Blank) {
            continue;
        }
        if (parsed.kind == LineKind::Section) {
            std::fill(headerMatches.begin(), headerMatches.end(), -1);
        }
        for (size_t i = 0; i < searches.size(); ++i) {
            Search& search = searches[i];
            if (search.done) {
                continue;
            }
            if (parsed.kind == LineKind::Section) {
                if (search.sectionSeen) {
                    // The section has ended; a later one of the same name does not count.
                    if (search.inSection) {
                        search.done = true;
                        --pending;
                    }
                    continue;
                }
                signed char& matches = headerMatches[firstOfSection[i]];
                if (matches < 0) {
                    matches = NamesEqual(units, parsed.nameBegin, parsed.nameEnd, search.section);
                }
                if (matches != 0) {
                    search.sectionSeen = search.inSection = true;
                    search.hasContent = true;
                    search.lastContent = line;
                }
                continue;
            }
            if (!search.inSection) {
                continue;
            }
            search.hasContent = true;
            search.lastContent = line;
            if (!search.keyFound &&
                NamesEqual(units, parsed.nameBegin, parsed.nameEnd, search.key)) {
                search.keyFound = true;
                search.keyLine = parsed;
                search.keyLineBounds = line;
                search.done = true;
                --pending;
            }
        }
    }
}

bool HasLineEnd(const std::wstring& text) {
    return text.find_first_of(L"\r\n") != std::wstring::npos;
}

}  // namespace

void ReadStringsFromBytes(const std::string& bytes, std::vector<ProfileQuery>& queries) {
    const Units units(bytes);
    std::vector<Search> searches;
    searches.reserve(queries.size());
    for (const ProfileQuery& query : queries) {
        searches.emplace_back(EncodeUnits(units.encoding(), TrimBlanks(query.section)),
                              EncodeUnits(units.encoding(), TrimBlanks(query.key)));
    }
    RunSearches(units, searches);
    for (size_t i = 0; i < queries.size(); ++i) {
        const Search& search = searches[i];
        queries[i].value.clear();
        if (search.keyFound && search.keyLine.hasValue) {
            queries[i].value = ValueText(units, search.keyLine.valueBegin, search.keyLine.valueEnd);
        }
        queries[i].count = static_cast<uint32_t>(queries[i].value.size());
    }
}

uint32_t ReadStringFromBytes(const std::string& bytes, const std::wstring& section,
                             const std::wstring& key, std::wstring& value) {
    std::vector<ProfileQuery> queries{{section, key, {}, 0}};
    ReadStringsFromBytes(bytes, queries);
    value = std::move(queries.front().value);
    return queries.front().count;
}

namespace {

// WriteStringToBytes, but without a copy of the file when it already holds the value:
// result is then left empty.
bool EditBytes(const std::string& bytes, const std::wstring& section, const std::wstring& key,
               const std::wstring& value, std::string& result) {
    result.clear();
    const Units units(bytes);
    const Encoding encoding = units.encoding();
    const std::wstring sectionName = TrimBlanks(section);
    const std::wstring keyName = TrimBlanks(key);
    size_t first = 0;
    while (first < value.size() && IsBlankWide(value[first])) {
        ++first;
    }
    const std::wstring newValue = value.substr(first);
    const std::u16string valueUnits = EncodeUnits(encoding, newValue);

    std::vector<Search> searches;
    searches.emplace_back(EncodeUnits(encoding, sectionName), EncodeUnits(encoding, keyName));
    RunSearches(units, searches);
    const Search& found = searches.front();

    if (found.keyFound && found.keyLine.hasValue) {
        const ParsedLine& line = found.keyLine;
        // A value far longer than the new one cannot equal it; no need to convert it.
        if (line.valueEnd - line.valueBegin <= 4 * (valueUnits.size() + 1) &&
            Decode(units, line.valueBegin, line.valueEnd) == newValue) {
            return false;
        }
    }

    // New lines end like the file's first line does; a new file gets CRLF.
    std::u16string lineEnd = u"\r\n";
    if (!units.empty()) {
        const Line firstLine = LineAt(units, 0);
        if (firstLine.next > firstLine.end) {
            lineEnd = units.substr(firstLine.end, firstLine.next);
        }
    }
    const std::u16string keyText = EncodeUnits(encoding, keyName) + u"=" + valueUnits;

    result = bytes;
    // A lone last byte of a UTF-16 file is rewritten as the whole unit it was read as.
    if (units.oddLength()) {
        result.insert(encoding == Encoding::Utf16Le ? result.size() : result.size() - 1, 1, '\0');
    }
    const auto insertAt = [&](size_t unit, const std::u16string& text) {
        result.insert(units.byteOffset(unit), UnitBytes(encoding, text));
    };
    if (found.keyFound) {
        const ParsedLine& line = found.keyLine;
        if (line.hasValue) {
            // Only the value changes; the key's spelling and the blanks around '=' stay.
            const size_t at = units.byteOffset(line.valueBegin);
            result.replace(at, units.byteOffset(line.valueEnd) - at,
                           UnitBytes(encoding, valueUnits));
        } else {
            insertAt(found.keyLineBounds.end, u"=" + valueUnits);
        }
    } else if (found.sectionSeen) {
        // After the section's last non-blank line, so blank lines before the next section
        // stay where they are.
        if (!found.hasContent) {
            insertAt(0, keyText + lineEnd);
        } else {
            const Line& last = found.lastContent;
            if (last.next == last.end) {
                insertAt(last.end, lineEnd + keyText + lineEnd);  // no line end at the end
            } else {
                insertAt(last.next, keyText + lineEnd);
            }
        }
    } else {
        std::u16string tail;
        if (!units.empty() && units[units.size() - 1] != u'\n' &&
            units[units.size() - 1] != u'\r') {
            tail = lineEnd;
        }
        tail += u"[" + EncodeUnits(encoding, sectionName) + u"]" + lineEnd + keyText + lineEnd;
        result += UnitBytes(encoding, tail);
    }
    return true;
}

}  // namespace

bool WriteStringToBytes(const std::string& bytes, const std::wstring& section,
                        const std::wstring& key, const std::wstring& value, std::string& result) {
    if (!EditBytes(bytes, section, key, value, result)) {
        result = bytes;
        return false;
    }
    return true;
}

void ReadStrings(const std::wstring& path, std::vector<ProfileQuery>& queries) {
    for (ProfileQuery& query : queries) {
        query.value.clear();
        query.count = 0;
    }
    std::string bytes;
    bool exists = false;
    uint32_t error = 0;
    if (!LoadProfileFile(path, false, bytes, exists, error) || !exists) {
        return;
    }
    ReadStringsFromBytes(bytes, queries);
}

uint32_t ReadString(const std::wstring& section, const std::wstring& key, const std::wstring& path,
                    std::wstring& value) {
    std::vector<ProfileQuery> queries{{section, key, {}, 0}};
    ReadStrings(path, queries);
    value = std::move(queries.front().value);
    return queries.front().count;
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
    if (!EditBytes(bytes, section, key, value, result)) {
        return true;  // the file already holds that value
    }
    bytes = std::string();  // only the new contents are needed from here
    return ReplaceFileAtomically(path, result, error);
}

}  // namespace portable_profile
