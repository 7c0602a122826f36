// JSON text of a result, compact or indented, written in one pass into one buffer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "cn0/result.hpp"

namespace vardoln {

// The text in the block it was written into, for callers that copy it once into a string of
// their own (the binding's str) instead of going through a std::string first.
class JsonText {
public:
    JsonText(char* data, std::size_t size) noexcept : data_(data), size_(size) {}
    ~JsonText();
    JsonText(JsonText&& other) noexcept;
    JsonText(const JsonText&) = delete;
    JsonText& operator=(const JsonText&) = delete;
    JsonText& operator=(JsonText&&) = delete;

    std::string_view view() const noexcept { return {data_, size_}; }

private:
    char* data_;  // malloc'd
    std::size_t size_;
};

JsonText result_json_text(const AnalysisResult& result, bool pretty);
std::string result_to_json(const AnalysisResult& result, bool pretty);

// A double as the export writes it: null when not finite, else the shortest round-trip
// digits, positional for decimal exponents -5..15 and exponent form otherwise. The second form
// writes at most 24 characters at `out` and returns their end.
void append_json_number(std::string& out, double value);
char* write_json_number(char* out, double value) noexcept;

}  // namespace vardoln
