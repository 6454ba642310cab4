// Byte-index stepping over multibyte text: in a double-byte code page a
// trail byte may equal '\\', ';' or '"', so scans advance by whole
// characters and compare only the bytes that begin one.
#pragma once

#include "base/text.h"

#include <mbstring.h>

#include <string>

namespace fileref {

using base::Bytes;
using base::EqualNoCase;

// Index of the character after the one at `i` (i < text.size()). No code
// page leads a character with an ASCII byte, and most bytes are ASCII.
inline size_t NextCharIndex(const std::string& text, size_t i) {
    if (static_cast<unsigned char>(text[i]) < 0x80)
        return i + 1;
    const unsigned char* at = Bytes(text) + i;
    size_t next = i + static_cast<size_t>(_mbsinc(at) - at);
    return next > text.size() ? text.size() : next;
}

// The character at `i`, or '\0' at and past the end.
inline char CharAt(const std::string& text, size_t i) {
    return i < text.size() ? text[i] : '\0';
}

} // namespace fileref
