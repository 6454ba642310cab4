#include "fileref/reference_check.h"

#include "fileref/command_path.h"
#include "fileref/file_probe.h"
#include "fileref/text_scan.h"

#include <windows.h>

#include <mbstring.h>

#include <algorithm>
#include <string>
#include <vector>

using fileref::Bytes;
using fileref::CharAt;
using fileref::NextCharIndex;

namespace {

constexpr size_t kExpansionRoom = 0x2000;
constexpr size_t kMaxPathLength = MAX_PATH;

// Expands into the text's own buffer: when the expansion fails or writes
// nothing, the text stays as it was.
void ExpandInPlace(std::string& text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.resize(text.size() + kExpansionRoom, '\0');
    const std::string source = text;
    if (ExpandEnvironmentStringsA(source.c_str(), buffer.data(),
                                  static_cast<DWORD>(buffer.size())) == 0)
        return;
    buffer.back() = '\0';
    text.assign(buffer.data());
}

// The span [at, at + length) of `text` replaced by the mark.
void MarkMissing(std::string& text, size_t at, size_t length) {
    const size_t end = std::min(text.size(), at + length);
    text.replace(at, end - at, 1, '*');
}

// After a blank that follows a folder, a backslash before any other special
// character means the folder's own name goes on ("Program Files (x86)\").
bool NameGoesOnAfterBlank(const std::string& text, size_t from) {
    static const char kStops[] = "\"%*,-/;<>?@\\|";
    for (size_t i = from; i < text.size(); i = NextCharIndex(text, i)) {
        if (std::char_traits<char>::find(kStops, sizeof(kStops) - 1, text[i]) != nullptr)
            return text[i] == '\\';
    }
    return false;
}

size_t SkipBlanksAndQuotes(const std::string& text, size_t j) {
    while (j < text.size() && (text[j] == ' ' || text[j] == '"'))
        ++j;
    return j;
}

// A rundll host loads exactly the library its argument names, with no
// fallback of its own, so a host named by full path gets its argument tested
// too, as one named bare does. The argument is tested as a drive path: a bare
// library name there answers true, so this only adds reports of libraries
// that are certainly missing, never of ones that merely cannot be tested.
bool CheckRundllArgument(std::string& text, size_t after, std::string& file) {
    const size_t j = SkipBlanksAndQuotes(text, after);
    if (j >= text.size())
        return true;
    std::string rest = text.substr(j);
    if (CheckDrivePathReference(rest, file))
        return true;
    text = text.substr(0, j) + rest;
    return false;
}

class CDrivePathScan {
public:
    CDrivePathScan(std::string& text, std::string& file, size_t start)
        : m_text(text), m_file(file), m_start(start) {}

    bool Run();

private:
    enum class Step { GoOn, Decide, List, Present, Settled };

    Step AtDelimiter(size_t i);
    Step AtSeparator();
    bool Decide();
    bool WalkList(size_t p);

    std::string& m_text;
    std::string& m_file;
    const size_t m_start;
    std::string m_candidate;
    bool m_foundFolder = false;
    bool m_settledResult = true;
};

bool CDrivePathScan::Run() {
    for (size_t i = m_start; i < m_text.size(); i = NextCharIndex(m_text, i)) {
        const char c = m_text[i];
        Step step = Step::GoOn;
        if (IsPathDelimiter(c))
            step = AtDelimiter(i);
        else if (IsNameBreaking(c))
            step = Step::Decide;
        else if (c == '\\')
            step = AtSeparator();
        switch (step) {
        case Step::GoOn:
            break;
        case Step::Decide:
            return Decide();
        case Step::List:
            return WalkList(i);
        case Step::Present:
            return true;
        case Step::Settled:
            return m_settledResult;
        }
        m_candidate.append(m_text, i, NextCharIndex(m_text, i) - i);
    }
    return Decide();
}

CDrivePathScan::Step CDrivePathScan::AtDelimiter(size_t i) {
    const char c = m_text[i];
    const bool listFollows = c == ';' && IsRootedPath(m_text.substr(i + 1));
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (!ProbeFile(m_candidate, attributes))
        return listFollows ? Step::Decide : Step::GoOn;
    if (listFollows)
        return Step::List;
    const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder) {
        if (c != ' ' || !NameGoesOnAfterBlank(m_text, i + 1)) {
            m_file = m_candidate;
            m_foundFolder = true;
        }
        return Step::GoOn;
    }
    m_file = m_candidate;
    if (IsRundllHost(GetFileNamePart(m_candidate))) {
        m_settledResult = CheckRundllArgument(m_text, i, m_file);
        return Step::Settled;
    }
    return Step::Present;
}

CDrivePathScan::Step CDrivePathScan::AtSeparator() {
    // A file followed by a backslash cannot be part of a longer path.
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (ProbeFile(m_candidate, attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return Step::Decide;
    return Step::GoOn;
}

bool CDrivePathScan::Decide() {
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (ProbeFile(m_candidate, attributes)) {
        m_file = m_candidate;
        return true;
    }
    if (m_foundFolder)
        return true;
    m_file = m_candidate;
    ExtractCommandPath(m_file);
    if (m_file.size() >= kMaxPathLength)
        return true;
    MarkMissing(m_text, m_start, m_file.size());
    return false;
}

// The first element exists; the next element on a fixed drive settles the
// answer. Elements on other drives and UNC elements are passed over untested.
bool CDrivePathScan::WalkList(size_t p) {
    for (;;) {
        char drive = 0;
        if (IsRootedPath(m_text.substr(p + 1), drive) && IsFixedDrive(drive)) {
            std::string rest = m_text.substr(p + 1);
            if (CheckDrivePathReference(rest, m_file))
                return true;
            m_text = m_text.substr(0, p + 1) + rest;
            return false;
        }
        const unsigned char* next = _mbschr(Bytes(m_text) + p + 1, ';');
        if (next == nullptr)
            return true;
        p = static_cast<size_t>(next - Bytes(m_text));
    }
}

} // namespace

bool CheckFileReference(std::string& text, std::string& file) {
    if (text.empty()) {
        text.assign(1, '*'); // not = "*": GCC 12 -Wrestrict misfires on it at -O3
        return false;
    }
    ExpandInPlace(text);
    if (text.size() < 3)
        return true;
    const size_t s = (text[0] == '"' || text[0] == '@') ? 1 : 0;
    if (text[s] == '\\' && text[s + 1] == '\\')
        return true; // UNC: a share may be slow or offline, never tested
    if (text[s + 1] == ':' && CharAt(text, s + 2) == '\\') {
        // "@X:\..." is an indirect resource string. The shell resolves those
        // through the MUI loader, whose language and resource-folder
        // fallbacks can serve a string whose named file is not where the text
        // says; probing the path would report such working strings as
        // missing, so the drive-path check answers for it (it does not skip
        // the "@" and takes the text as untestable).
        return CheckDrivePathReference(text, file);
    }
    if (text[s] == '%')
        return true; // a variable that did not expand
    if (text.compare(0, 2, "@{") == 0)
        return true; // a packaged app's resource: the package manager resolves it
    file = text.substr(s);
    ExtractCommandPath(file);
    if (file.size() >= kMaxPathLength)
        return true;
    // The name was cut at a '?': a character the code page lacks, which no
    // search can match (see ProbeFile).
    if (CharAt(text, s + file.size()) == '?')
        return true;
    if (!SearchFile(file)) {
        MarkMissing(text, s, file.size());
        return false;
    }
    if (!IsRundllHost(file))
        return true;
    size_t j = s + file.size();
    if (j >= text.size())
        return true;
    j = SkipBlanksAndQuotes(text, j);
    // A switch ("-localserver <guid>", "-sta {CLSID}") makes the host serve
    // a registered class: no library is named.
    if (j >= text.size() || text[j] == '-')
        return true;
    std::string rest = text.substr(j);
    if (CheckFileReference(rest, file))
        return true;
    text = text.substr(0, j) + rest;
    return false;
}

bool CheckDrivePathReference(std::string& text, std::string& file) {
    ExpandInPlace(text);
    if (text.size() <= 2)
        return true;
    const size_t s = text[0] == '"' ? 1 : 0;
    if (text.size() <= s + 2 || text[s + 1] != ':' || text[s + 2] != '\\')
        return true;
    if (!IsFixedDrive(text[s]))
        return true; // removable, optical and network drives are not tested
    return CDrivePathScan(text, file, s).Run();
}
