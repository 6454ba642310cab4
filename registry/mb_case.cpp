#include "registry/mb_case.h"

#include <mbstring.h>

namespace {

unsigned char* Bytes(std::string& text) {
    return reinterpret_cast<unsigned char*>(text.data());
}

} // namespace

std::string ToUpperMb(std::string text) {
    // The size given includes the terminator std::string keeps behind the text.
    _mbsupr_s(Bytes(text), text.size() + 1);
    return text;
}

std::string ToLowerMb(std::string text) {
    _mbslwr_s(Bytes(text), text.size() + 1);
    return text;
}
