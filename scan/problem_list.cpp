#include "scan/problem_list.h"

#include "scan/engine_state.h"
#include "scan/exclusion_list.h"
#include "registry/reg_key.h"
#include "base/text.h"

#include <windows.h>

#include <mbstring.h>

#include <vector>

namespace {

std::vector<std::string> SplitList(const std::string& text) {
    // ';' is below every trail byte of the double-byte code pages: a byte
    // equal to it is always the separator.
    std::vector<std::string> elements;
    size_t start = 0;
    for (size_t end = text.find(';'); end != std::string::npos; end = text.find(';', start)) {
        elements.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    elements.push_back(text.substr(start));
    return elements;
}

std::string Expanded(const std::string& text) {
    std::vector<char> buffer(kMaxStringValueBytes, '\0');
    const DWORD length = ExpandEnvironmentStringsA(text.c_str(), buffer.data(), kMaxStringValueBytes);
    return length != 0 && length <= kMaxStringValueBytes ? buffer.data() : "";
}

// A rewrite drops the missing element from the value's own text: every other
// element stays as stored (variables unexpanded), and so does the type. The
// stored elements must each expand to the checked one in its place; where
// they do not (a variable that expands to a list), which one to drop is not
// certain, and false says the value is to be left alone. A value that
// cannot be read as one string keeps the checked text.
bool RewriteStoredText(const RegKey& key, const std::string& valueName, const std::string& marked,
                       ProblemRecord& record) {
    std::string stored;
    DWORD type = REG_NONE;
    if (key.QueryStoredString(valueName, stored, type) != ERROR_SUCCESS)
        return true;
    const std::vector<std::string> checked = SplitList(marked);
    std::vector<std::string> elements = SplitList(stored);
    if (elements.size() != checked.size())
        return false;
    size_t dropped = checked.size();
    for (size_t i = 0; i < checked.size(); ++i) {
        if (checked[i] == "*" && dropped == checked.size())
            dropped = i;
        else if (Expanded(elements[i]) != checked[i])
            return false;
    }
    if (dropped == checked.size())
        return false;
    elements.erase(elements.begin() + static_cast<std::ptrdiff_t>(dropped));
    record.newValue.clear();
    for (size_t i = 0; i < elements.size(); ++i)
        record.newValue += (i == 0 ? "" : ";") + elements[i];
    record.newValueType = type;
    return !record.newValue.empty();
}

// The lower-cased identity of a finding: the key's path, a backslash and
// the value's name. Lower-casing goes a character at a time, so the key's
// part is kept from the finding before on the same key (a key of many
// broken values), where the key's text ends in a whole character: a last
// byte that may lead a character would take the backslash as its second
// half.
std::string LowerCasedId(CEngineState& engine, const std::string& keyPath,
                         const std::string& valueName) {
    const bool wholeCharacters = !keyPath.empty() &&
                                 _ismbblead(static_cast<unsigned char>(keyPath.back())) == 0 &&
                                 keyPath.find('\0') == std::string::npos;
    if (!wholeCharacters)
        return base::ToLowerMb(keyPath + "\\" + valueName);
    if (keyPath != engine.m_lastFindingKey) {
        engine.m_lastFindingKeyId = base::ToLowerMb(keyPath + "\\");
        engine.m_lastFindingKey = keyPath;
    }
    return engine.m_lastFindingKeyId + base::ToLowerMb(valueName);
}

void Append(CEngineState& engine, ProblemRecord record) {
    record.id = LowerCasedId(engine, record.keyPath, record.valueName);
    engine.m_problems.push_back(std::move(record));
}

} // namespace

bool PassesAdmissionGate(const RegKey& key, const CEngineState& engine) {
    return !engine.m_bAdministrator || key.IsKeyWritable();
}

namespace {

// Whatever rule found it, nothing on a key the user excluded, or below one,
// is shown. `keyPath` is the key's KeyPathText.
bool Admitted(const RegKey& key, const std::string& keyPath, CEngineState& engine) {
    return !IsExcluded(engine, keyPath) && PassesAdmissionGate(key, engine);
}

} // namespace

std::string NewValueFromMarkedData(const std::string& data) {
    // Texts of three characters or fewer cannot hold a list with a mark in it.
    if (data.size() <= 3)
        return {};
    const size_t star = data.find('*');
    if (star == std::string::npos)
        return {};
    // The separator before the mark goes with it; at the head of the list,
    // the one after it.
    if (star > 1 && data[star - 1] == ';')
        return data.substr(0, star - 1) + data.substr(star + 1);
    if (star + 1 < data.size() && data[star + 1] == ';')
        return data.substr(0, star) + data.substr(star + 2);
    return {};
}

void AddKeyProblem(const RegKey& key, CEngineState& engine, int section) {
    ProblemRecord record;
    record.keyPath = key.KeyPathText();
    if (!Admitted(key, record.keyPath, engine))
        return;
    record.section = section;
    record.kind = ProblemDeleteKey;
    Append(engine, std::move(record));
}

void AddValueProblem(const std::string& data, CEngineState& engine, int section, const RegKey& key,
                     const std::string& valueName) {
    ProblemRecord record;
    record.keyPath = key.KeyPathText();
    if (!Admitted(key, record.keyPath, engine))
        return;
    record.newValue = NewValueFromMarkedData(data);
    record.kind = record.newValue.empty() ? ProblemDeleteValue : ProblemReplaceValue;
    if (record.kind == ProblemReplaceValue && !RewriteStoredText(key, valueName, data, record))
        return;
    record.section = section;
    record.valueName = valueName;
    Append(engine, std::move(record));
}
