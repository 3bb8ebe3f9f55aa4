#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kvel::sim {

// Small text helpers shared by the models and the configuration reader.
std::string Upper(std::string_view text);
std::string Trim(std::string_view text);
std::vector<std::string> SplitBlanks(std::string_view text);
// A whole decimal integer with an optional sign, at most nine digits.
bool ParseInt(std::string_view text, long long* value);
// A decimal number with an optional sign and fraction.
bool ParseNumber(std::string_view text, double* value);

}  // namespace kvel::sim
