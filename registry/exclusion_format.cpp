#include "registry/exclusion_format.h"

#include "base/text.h"

#include <algorithm>
#include <cstring>

namespace {

using base::EndsWithBackslash;
using base::FromWide;
using base::ToWide;
using Encoding = ExclusionFile::Encoding;

constexpr char kUtf16LeMark[] = "\xFF\xFE";
constexpr char kUtf16BeMark[] = "\xFE\xFF";
constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";
constexpr const char* kMarkers[] = {"=LOCKED", "=BLOCKED"};

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

const char* MarkOf(Encoding encoding) {
    switch (encoding) {
    case Encoding::Utf8:
        return kUtf8Mark;
    case Encoding::Utf16Le:
        return kUtf16LeMark;
    case Encoding::Utf16Be:
        return kUtf16BeMark;
    default:
        return "";
    }
}

bool IsUtf16(Encoding encoding) {
    return encoding == Encoding::Utf16Le || encoding == Encoding::Utf16Be;
}

// Bytes of one character unit: two in UTF-16, one otherwise. Line breaks
// are single units in every encoding.
size_t UnitSize(Encoding encoding) {
    return IsUtf16(encoding) ? 2 : 1;
}

unsigned UnitAt(const std::string& bytes, size_t at, Encoding encoding) {
    const auto first = static_cast<unsigned char>(bytes[at]);
    if (!IsUtf16(encoding))
        return first;
    const auto second = static_cast<unsigned char>(bytes[at + 1]);
    return encoding == Encoding::Utf16Be ? first << 8 | second : second << 8 | first;
}

std::string Utf16Bytes(const std::basic_string<WCHAR>& wide, Encoding encoding) {
    std::string bytes;
    for (WCHAR unit : wide) {
        const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
        bytes += encoding == Encoding::Utf16Be ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

bool NamesNoKey(const std::string& line) {
    return line.empty() || line[0] == ';' || line[0] == '[' || line[0] == ' ';
}

// "=LOCKED" is looked for first, wherever it stands.
void CutAtMarker(std::string& upperLine) {
    for (const char* marker : kMarkers) {
        const size_t at = upperLine.find(marker);
        if (at != std::string::npos) {
            upperLine.resize(at);
            return;
        }
    }
}

// Any number of trailing backslashes, none included, become one: the
// root alone ("HKEY_CLASSES_ROOT", "...\", "...\\") is one key.
std::string WithOneBackslash(std::string upper) {
    while (EndsWithBackslash(upper))
        upper.pop_back();
    return upper + '\\';
}

} // namespace

ExclusionFile ParseExclusionFile(const std::string& bytes) {
    ExclusionFile file;
    for (Encoding encoding : {Encoding::Utf8, Encoding::Utf16Le, Encoding::Utf16Be}) {
        if (StartsWith(bytes, MarkOf(encoding)))
            file.encoding = encoding;
    }
    const size_t unit = UnitSize(file.encoding);
    std::string body = bytes.substr(std::strlen(MarkOf(file.encoding)));
    body.resize(body.size() - body.size() % unit); // an odd last byte of UTF-16 is no character
    std::string current;
    bool lineEndSeen = false;
    file.endsWithLineEnd = true;
    for (size_t at = 0; at < body.size(); at += unit) {
        const unsigned c = UnitAt(body, at, file.encoding);
        file.endsWithLineEnd = c == '\r' || c == '\n';
        if (!file.endsWithLineEnd) {
            current.append(body, at, unit);
            continue;
        }
        // CR LF, LF and a lone CR each end a line: editors write all three.
        const bool crLf = c == '\r' && at + unit < body.size() && UnitAt(body, at + unit, file.encoding) == '\n';
        if (!lineEndSeen)
            file.lineEnd = crLf ? "\r\n" : std::string(1, static_cast<char>(c));
        lineEndSeen = true;
        at += crLf ? unit : 0;
        file.lines.push_back(std::move(current));
        current.clear();
    }
    if (!file.endsWithLineEnd)
        file.lines.push_back(std::move(current));
    return file;
}

std::string SerializeExclusionFile(const ExclusionFile& file) {
    const std::string lineEnd = EncodeLine(file, file.lineEnd);
    std::string bytes = MarkOf(file.encoding);
    for (size_t i = 0; i < file.lines.size(); ++i) {
        bytes += file.lines[i];
        if (i + 1 < file.lines.size() || file.endsWithLineEnd)
            bytes += lineEnd;
    }
    return bytes;
}

std::basic_string<WCHAR> WideLine(const ExclusionFile& file, size_t index) {
    const std::string& line = file.lines[index];
    if (file.encoding == Encoding::Ansi || file.encoding == Encoding::Utf8)
        return ToWide(file.encoding == Encoding::Ansi ? CP_ACP : CP_UTF8, line);
    std::basic_string<WCHAR> wide;
    for (size_t at = 0; at + 1 < line.size(); at += 2)
        wide.push_back(static_cast<WCHAR>(UnitAt(line, at, file.encoding)));
    return wide;
}

std::string EngineLine(const ExclusionFile& file, size_t index) {
    std::string line = file.encoding == Encoding::Ansi ? file.lines[index]
                                                       : FromWide(CP_ACP, WideLine(file, index));
    // Read into a 1,024-byte C buffer: up to a NUL, cut to fit.
    line.resize(std::min(line.size(), kMaxExclusionLineBytes));
    line.resize(std::strlen(line.c_str()));
    return line;
}

std::string EncodeLine(const ExclusionFile& file, const std::string& ansiLine) {
    if (file.encoding == Encoding::Ansi)
        return ansiLine;
    const std::basic_string<WCHAR> wide = ToWide(CP_ACP, ansiLine);
    return file.encoding == Encoding::Utf8 ? FromWide(CP_UTF8, wide)
                                           : Utf16Bytes(wide, file.encoding);
}

std::string ExclusionEntry(std::string ansiLine) {
    std::string upper = base::ToUpperMb(std::move(ansiLine));
    if (NamesNoKey(upper))
        return {};
    CutAtMarker(upper);
    return WithOneBackslash(std::move(upper));
}

std::string KeyEntry(std::string keyPathText) {
    return WithOneBackslash(base::ToUpperMb(std::move(keyPathText)));
}

bool EntryCovers(std::string_view entry, std::string_view keyEntry) {
    return keyEntry.substr(0, entry.size()) == entry;
}

std::string WhyNotExcludable(const std::string& ansiKeyPath) {
    if (ansiKeyPath.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        return "a key path of more than one line";
    const std::string upper = base::ToUpperMb(ansiKeyPath);
    for (const char* marker : kMarkers) {
        if (upper.find(marker) != std::string::npos)
            return std::string("the engine reads \"") + marker +
                   "\" in a line as the end of its key path";
    }
    if (ansiKeyPath.size() > kMaxExclusionLineBytes)
        return std::to_string(ansiKeyPath.size()) + " bytes long; the engine reads at most " +
               std::to_string(kMaxExclusionLineBytes) + " bytes of a line";
    if (ExclusionEntry(ansiKeyPath) != KeyEntry(ansiKeyPath))
        return "the engine would read the line as another key";
    return {};
}
