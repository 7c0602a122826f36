// JSON text of a result, compact or indented, written in one pass into one buffer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "cn0/result.hpp"

namespace vardoln {

// Where the export writes: one block that may grow while the text is written. The binding
// gives the storage of the Python str itself, so that the text is written once, in place.
class JsonStorage {
public:
    // A block of at least `size` bytes that starts with the `used` bytes written so far (none at
    // the first call); nullptr when there is no memory for it.
    virtual char* reserve(std::size_t used, std::size_t size) = 0;

protected:
    ~JsonStorage() = default;
};

struct JsonWritten {
    std::size_t size = 0;  // of the text at the start of the last block
    bool ascii = true;     // no byte above 0x7F (text from the data is written as it is)
};

JsonWritten write_result_json(const AnalysisResult& result, bool pretty, JsonStorage& storage);
std::string result_to_json(const AnalysisResult& result, bool pretty);

// A double as the export writes it: null when not finite, else the shortest round-trip
// digits, positional for decimal exponents -5..15 and exponent form otherwise. The second form
// writes at most 24 characters at `out` and returns their end.
void append_json_number(std::string& out, double value);
char* write_json_number(char* out, double value) noexcept;

}  // namespace vardoln
