#include "KVEL_Text.h"

#include <cctype>

std::string HexByte(unsigned char b) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {'$', kDigits[b >> 4], kDigits[b & 0x0F]};
}

std::string FilterPrintable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 32 && b <= 122) out += c;
  }
  return out;
}

std::string TrimTrailingSpaces(const std::string& text) {
  std::string out = text.substr(0, 255);
  const std::size_t last = out.find_last_not_of(' ');
  out.erase(last == std::string::npos ? 0 : last + 1);
  return out;
}

std::string HexDisplayText(const std::string& received) {
  std::string out;
  out.reserve(received.size() * 2);
  for (const char c : received) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 31) {
      out += c;
      continue;
    }
    out += " <" + HexByte(b) + ">";
    if (b == 10) out += "\n\r";
  }
  return out;
}

std::string ExpandMacro(const std::string& macro) {
  std::string out;
  for (std::size_t i = 0; i < macro.size(); ++i) {
    if (macro.compare(i, 2, "CR") == 0) {
      out += '\r';
      i += 1;
    } else if (macro.compare(i, 3, "ESC") == 0) {
      out += '\033';
      i += 2;
    } else if (macro.compare(i, 2, "LF") == 0) {
      out += '\n';
      i += 1;
    } else {
      out += macro[i];
    }
  }
  return out;
}

std::string UnitAddressOf(const std::string& entry) {
  std::string address = "<";
  const std::size_t hash = entry.find('#');
  if (hash == std::string::npos) return address;
  for (std::size_t i = hash + 1; i < entry.size(); ++i) {
    const char c = entry[i];
    if (c == ' ') continue;
    if (std::isdigit(static_cast<unsigned char>(c)) == 0) break;
    address += c;
  }
  return address;
}

std::string UnitIdOf(const std::string& entry) {
  const std::size_t equals = entry.find('=');
  return equals == std::string::npos ? std::string() : entry.substr(equals + 1);
}

std::string UpperCase(std::string text) {
  for (char& c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 'a' && b <= 'z') c = static_cast<char>(b - 'a' + 'A');
  }
  return text;
}
