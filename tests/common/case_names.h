// Names for parameterised cases whose parameter is a text, so that a test
// name says what the case feeds in and stays the same from build to build.
#pragma once

#include <cstdio>
#include <string>

namespace testkit {

// Letters and digits stay; a blank becomes '_', a few bytes a word (Tab,
// CR, LF, Eq, Semi, Plus, Minus, Dot) and any other byte its hex value
// ("x81"). An empty text is "Empty"; a long one is cut, with its length.
inline std::string NameFromText(const std::string& text) {
  if (text.empty()) return "Empty";
  std::string name;
  for (unsigned char byte : text) {
    if ((byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
        (byte >= 'a' && byte <= 'z')) {
      name += static_cast<char>(byte);
      continue;
    }
    switch (byte) {
      case ' ': name += '_'; break;
      case '\t': name += "Tab"; break;
      case '\r': name += "CR"; break;
      case '\n': name += "LF"; break;
      case '=': name += "Eq"; break;
      case ';': name += "Semi"; break;
      case '+': name += "Plus"; break;
      case '-': name += "Minus"; break;
      case '.': name += "Dot"; break;
      default: {
        char hex[4];
        std::snprintf(hex, sizeof hex, "x%02X", byte);
        name += hex;
      }
    }
  }
  constexpr std::size_t kLongest = 40;
  if (name.size() > kLongest) {
    name = name.substr(0, kLongest - 8) + "_" + std::to_string(text.size()) + "Bytes";
  }
  return name;
}

}  // namespace testkit
