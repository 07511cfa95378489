#include "drivers/host/object_value_text.h"

#include <limits>

#include "platform/devhost/control_words.h"

namespace vantor::host {

namespace {

using sim::canopen::DataType;
using sim::canopen::ObjectEntry;

constexpr char kHexDigits[] = "0123456789abcdef";

bool IsSigned(DataType type) {
  return type == DataType::kInteger8 || type == DataType::kInteger16 ||
         type == DataType::kInteger32 || type == DataType::kInteger64;
}

std::string TypeName(DataType type) {
  switch (type) {
    case DataType::kBoolean:
      return "a boolean (0 or 1)";
    case DataType::kInteger8:
    case DataType::kInteger16:
    case DataType::kInteger32:
    case DataType::kInteger64:
      return "a signed " + std::to_string(sim::canopen::FixedSizeOf(type) * 8) + "-bit number";
    case DataType::kUnsigned8:
    case DataType::kUnsigned16:
    case DataType::kUnsigned32:
    case DataType::kUnsigned64:
      return "an unsigned " + std::to_string(sim::canopen::FixedSizeOf(type) * 8) + "-bit number";
    case DataType::kVisibleString:
      return "printable text";
    case DataType::kOctetString:
      return "hexadecimal bytes";
  }
  return "a value";
}

// The raw little-endian pattern of an integer entry.
bool ParseInteger(DataType type, std::string_view text, std::uint64_t& raw) {
  const std::size_t bits = sim::canopen::FixedSizeOf(type) * 8;
  const bool hexadecimal = text.starts_with("0x") || text.starts_with("0X");
  if (!IsSigned(type) || hexadecimal) {
    if (!devhost::ParseControlNumber(text, raw)) return false;
    if (type == DataType::kBoolean) return raw <= 1;
    return bits == 64 || raw < (std::uint64_t{1} << bits);
  }
  std::int64_t value = 0;
  if (!devhost::ParseControlNumber(text, value)) return false;
  if (bits < 64) {
    const std::int64_t largest = (std::int64_t{1} << (bits - 1)) - 1;
    if (value > largest || value < -largest - 1) return false;
  }
  raw = static_cast<std::uint64_t>(value);
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHexBytes(std::string_view text, std::vector<std::uint8_t>& bytes) {
  if (text.empty() || text.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  return true;
}

// Control characters would garble the endpoint's one-line answers.
bool IsPrintable(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}

}  // namespace

std::string FormatObjectValue(const ObjectEntry& entry) {
  switch (entry.Type()) {
    case DataType::kVisibleString:
      return entry.Text();
    case DataType::kOctetString: {
      std::string text;
      for (const std::uint8_t byte : entry.Bytes()) {
        text += kHexDigits[byte >> 4];
        text += kHexDigits[byte & 0x0F];
      }
      return text;
    }
    default:
      return IsSigned(entry.Type()) ? std::to_string(entry.Signed())
                                    : std::to_string(entry.Unsigned());
  }
}

bool ParseObjectValue(const ObjectEntry& entry, std::string_view text,
                      std::vector<std::uint8_t>& bytes, std::string& error) {
  bytes.clear();
  const DataType type = entry.Type();
  bool parsed = false;
  if (type == DataType::kVisibleString) {
    parsed = IsPrintable(text);
    if (parsed) bytes.assign(text.begin(), text.end());
  } else if (type == DataType::kOctetString) {
    parsed = ParseHexBytes(text, bytes);
  } else {
    std::uint64_t raw = 0;
    parsed = ParseInteger(type, text, raw);
    for (std::size_t i = 0; parsed && i < sim::canopen::FixedSizeOf(type); ++i) {
      bytes.push_back(static_cast<std::uint8_t>(raw >> (8 * i)));
    }
  }
  if (!parsed) {
    error = "takes " + TypeName(type);
    return false;
  }
  if (!entry.AcceptsSize(bytes.size())) {
    error = "holds at most " + std::to_string(entry.Capacity()) + " bytes";
    return false;
  }
  return true;
}

}  // namespace vantor::host
