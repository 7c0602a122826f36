// JSON text of a result, compact or indented, written in one pass into one buffer.
#pragma once

#include <string>

#include "cn0/result.hpp"

namespace vardoln {

std::string result_to_json(const AnalysisResult& result, bool pretty);

// A double as the export writes it: null when not finite, else the shortest round-trip
// digits, positional for decimal exponents -5..15 and exponent form otherwise.
void append_json_number(std::string& out, double value);

}  // namespace vardoln
