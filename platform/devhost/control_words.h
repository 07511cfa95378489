// Parsing of the control endpoint's command lines: words separated by
// blanks, numbers in decimal or "0x" hexadecimal. Shared by the runtime's
// own commands and the ones a host program adds.
#pragma once

#include <charconv>
#include <string_view>
#include <system_error>
#include <vector>

namespace vantor::devhost {

// True when the whole of `text` is a number of the type's range.
template <typename Number>
bool ParseControlNumber(std::string_view text, Number& value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return !text.empty() && error == std::errc{} && end == text.data() + text.size();
}

// The blank-separated words of `text`, as views into it.
inline std::vector<std::string_view> ControlWords(std::string_view text) {
  std::vector<std::string_view> words;
  while (!text.empty()) {
    const auto start = text.find_first_not_of(' ');
    if (start == std::string_view::npos) break;
    text.remove_prefix(start);
    const auto end = text.find(' ');
    words.push_back(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end);
  }
  return words;
}

}  // namespace vantor::devhost
