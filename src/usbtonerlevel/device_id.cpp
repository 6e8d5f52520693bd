// Device-ID replies, fields and the names CUPS derives from them.
#include "usbtonerlevel/device_id.h"

#include <algorithm>
#include <array>

namespace usbink::usb {
namespace {

constexpr std::size_t kPrefixSize = 2;
constexpr std::string_view kBlank = " \t\r\n\v\f";
constexpr char kFieldEnd = ';';
constexpr char kKeyEnd = ':';

std::string_view trim(std::string_view s) {
  const std::size_t first = s.find_first_not_of(kBlank);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(kBlank) - first + 1);
}

bool isBlank(char c) {
  return kBlank.find(c) != std::string_view::npos;
}

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Manufacturer names that CUPS shortens in device URIs, for compatibility
// with its older character-device backend.
struct MakeAlias {
  std::string_view reported;
  std::string_view used;
};
constexpr std::array kMakeAliases{MakeAlias{"Hewlett-Packard", "HP"},
                                  MakeAlias{"Lexmark International", "Lexmark"}};

constexpr std::string_view kUnknownMake = "Unknown";
constexpr std::string_view kUnknownMakeModel = "Printer";
constexpr std::string_view kUnknownModel = "Unknown Model";

std::string firstWord(std::string_view s) {
  return std::string(s.substr(0, s.find_first_of(kBlank)));
}

}  // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return lower(x) == lower(y); });
}

DeviceIdReply deviceIdFromReply(std::span<const std::uint8_t> reply) {
  if (reply.size() < kPrefixSize) return {{}, ReplyError::kNoPrefix};
  const std::size_t length = (std::size_t{reply[0]} << 8) | reply[1];
  if (length < kPrefixSize) return {{}, ReplyError::kLengthTooShort};
  // A length beyond the bytes that arrived means a truncated transfer or a
  // device that lies about its ID; either way the text cannot be trusted to
  // be whole, so it is refused rather than cut.
  if (length > reply.size()) return {{}, ReplyError::kLengthBeyondData};
  const auto text = reply.subspan(kPrefixSize, length - kPrefixSize);
  // The ID is text: a NUL ends it (the usblp driver pads with them).
  const auto end = std::find(text.begin(), text.end(), std::uint8_t{0});
  return {std::string(text.begin(), end), std::nullopt};
}

std::vector<DeviceIdField> parseDeviceId(std::string_view id) {
  std::vector<DeviceIdField> fields;
  while (!id.empty()) {
    const std::size_t end = std::min(id.find(kFieldEnd), id.size());
    const std::string_view field = id.substr(0, end);
    id.remove_prefix(std::min(end + 1, id.size()));
    // Text without a key separator or with an empty key names nothing.
    const std::size_t colon = field.find(kKeyEnd);
    if (colon == std::string_view::npos) continue;
    const std::string_view key = trim(field.substr(0, colon));
    if (key.empty()) continue;
    fields.push_back({std::string(key), std::string(trim(field.substr(colon + 1)))});
  }
  return fields;
}

std::optional<std::string> findField(const std::vector<DeviceIdField>& fields,
                                     std::initializer_list<std::string_view> keys) {
  for (const std::string_view key : keys) {
    const auto it = std::find_if(fields.begin(), fields.end(), [key](const DeviceIdField& f) {
      return equalsIgnoringCase(f.key, key);
    });
    if (it != fields.end() && !it->value.empty()) return it->value;
  }
  return std::nullopt;
}

std::optional<std::string> deviceIdSerial(const std::vector<DeviceIdField>& fields) {
  return findField(fields, {"SERIALNUMBER", "SERN", "SN"});
}

MakeAndModel cupsMakeAndModel(const std::vector<DeviceIdField>& fields) {
  const std::optional<std::string> make = findField(fields, {"MANUFACTURER", "MFG"});
  const std::optional<std::string> model = findField(fields, {"MODEL", "MDL"});
  const std::optional<std::string> description = findField(fields, {"DESCRIPTION", "DES"});

  MakeAndModel names;
  if (make) {
    names.make = *make;
    for (const MakeAlias& alias : kMakeAliases) {
      if (equalsIgnoringCase(*make, alias.reported)) names.make = alias.used;
    }
  } else if (model || description) {
    // Without a manufacturer CUPS takes the first word of the normalised
    // model or description; we take the first word as reported, which is
    // the same for the names printers actually send.
    names.make = firstWord(model ? *model : *description);
  } else {
    names.make = kUnknownMake;
  }

  if (model) {
    names.model = *model;
  } else if (description) {
    names.model = *description;
  } else {
    const bool unknownMake = equalsIgnoringCase(
        std::string_view(names.make).substr(0, kUnknownMake.size()), kUnknownMake);
    names.model = unknownMake ? kUnknownMakeModel : kUnknownModel;
  }

  // "HP LaserJet 1020" from an HP printer is named "LaserJet 1020".
  const std::size_t makeLength = names.make.size();
  if (names.model.size() > makeLength && isBlank(names.model[makeLength]) &&
      equalsIgnoringCase(std::string_view(names.model).substr(0, makeLength), names.make)) {
    names.model = std::string(trim(std::string_view(names.model).substr(makeLength)));
  }
  return names;
}

}  // namespace usbink::usb
