// Small text helpers for option values: "key=value,flag" lists and numbers.
#ifndef TOOLS_TRACEREPLAY_OPTIONTEXT_H
#define TOOLS_TRACEREPLAY_OPTIONTEXT_H

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

namespace replay {

std::vector<std::string> splitText(const std::string& text, char separator);

// "a=1,b,c=x" -> {a,1} {b,""} {c,x}; throws UsageError on an empty key.
std::vector<std::pair<std::string, std::string>> parseKeyValues(const std::string& text);

// Decimal, or hexadecimal with 0x; throws UsageError naming `what` otherwise
// or when the value is outside [0, max].
uint32_t parseNumber(const std::string& text, uint32_t max, const std::string& what);

// Hexadecimal with or without 0x, at most `max`.
uint32_t parseHex(const std::string& text, uint32_t max, const std::string& what);

}  // namespace replay

#endif
