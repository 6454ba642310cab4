// The request reader: any bytes parse without a crash or a read outside the
// input, and whatever was read serialises.
#include "report/json_reader.h"
#include "report/json_writer.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    JsonObject request;
    ParseRequest(std::string_view(reinterpret_cast<const char*>(data), size), request);
    Serialize(request);
    return 0;
}
