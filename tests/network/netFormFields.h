#pragma once
// Reading form bodies and query targets as a score server would, for checking requests.
#include <string>

namespace netTest {

// The decoding a PHP server applies to a form field.
inline std::string FormDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+')
      out += ' ';
    else if (text[i] == '%' && i + 2 < text.size()) {
      out += char(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else
      out += text[i];
  }
  return out;
}

// The value of one field of a form body or query, or "<missing>"; a blank ends the query
// of a request line.
inline std::string Field(const std::string& form, const std::string& name) {
  size_t at = 0;
  while (at < form.size()) {
    size_t end = form.find_first_of("& ", at);
    if (end == std::string::npos) end = form.size();
    std::string pair = form.substr(at, end - at);
    if (pair.compare(0, name.size() + 1, name + "=") == 0) return FormDecode(pair.substr(name.size() + 1));
    if (end < form.size() && form[end] == ' ') break;
    at = end + 1;
  }
  return "<missing>";
}

}  // namespace netTest
