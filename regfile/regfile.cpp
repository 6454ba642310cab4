// Stub implementation: replaced by the .reg reader and writer.
#include "regfile/regfile.h"

namespace regfile {
bool Parse(const std::vector<uint8_t>&, const std::string&, Script*, std::string* error) {
    if (error)
        *error = "not implemented";
    return false;
}
LONG Apply(const Script&, std::string*) { return ERROR_CALL_NOT_IMPLEMENTED; }
std::vector<uint8_t> Export(const std::vector<std::string>&, Encoding) { return {}; }
} // namespace regfile
