#include "tests/engine/nimbtrace_probe.h"

#include <cctype>
#include <cstring>

namespace hmtest {

bool LooksLikeBuildTimestamp(const std::string& text) {
    // "Www Mmm dd hh:mm:ss yyyy", the day padded with a space: A is a
    // letter, 9 a digit, _ a digit or a space, anything else itself.
    const std::string pattern = "AAA AAA _9 99:99:99 9999";
    if (text.size() != pattern.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const bool ok = pattern[i] == 'A'   ? std::isalpha(c) != 0
                        : pattern[i] == '9' ? std::isdigit(c) != 0
                        : pattern[i] == '_' ? (c == ' ' || std::isdigit(c) != 0)
                                            : c == static_cast<unsigned char>(pattern[i]);
        if (!ok)
            return false;
    }
    return true;
}

} // namespace hmtest
