#include "tool/platform/ipp_message.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>

namespace usbink::platform {
namespace {

constexpr std::uint16_t kIppVersion = 0x0200;
constexpr std::uint16_t kGetPrinterAttributes = 0x000B;
constexpr std::uint16_t kIppStatusOkConflicting = 0x0002;
constexpr char kOperationAttributes = 0x01;
constexpr char kEndOfAttributes = 0x03;
constexpr unsigned char kFirstValueTag = 0x10;
constexpr unsigned char kTagUri = 0x45;
constexpr std::size_t kIppHeaderSize = 8;  // version, status or operation, request-id
constexpr std::size_t kUriMax = 1023;
constexpr std::size_t kNameMax = 255;
constexpr int kHttpOk = 200;
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr char kDeviceUri[] = "device-uri";

void put16(std::string& out, std::size_t value) {
  out += static_cast<char>((value >> 8) & 0xFF);
  out += static_cast<char>(value & 0xFF);
}

void putAttribute(std::string& out, unsigned char tag, std::string_view name,
                  std::string_view value) {
  out += static_cast<char>(tag);
  put16(out, name.size());
  out += name;
  put16(out, value.size());
  out += value;
}

// Percent-encodes every octet but the unreserved ones (RFC 3986), so that
// any queue name stands in the resource as the scheduler decodes it.
std::string percentEncoded(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto octet = static_cast<unsigned char>(c);
    if (std::isalnum(octet) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[octet >> 4];
      out += kHex[octet & 0x0F];
    }
  }
  return out;
}

// A bounded reader over the IPP message of an answer.
class IppReader {
 public:
  explicit IppReader(std::string_view data) : m_data(data) {}
  bool atEnd() const { return m_pos >= m_data.size(); }
  bool octet(unsigned char* out) {
    if (atEnd()) return false;
    *out = static_cast<unsigned char>(m_data[m_pos++]);
    return true;
  }
  // A two-octet length followed by that many octets.
  bool counted(std::string_view* out) {
    unsigned char high = 0, low = 0;
    if (!octet(&high) || !octet(&low)) return false;
    const std::size_t length = static_cast<std::size_t>(high) << 8 | low;
    if (length > m_data.size() - m_pos) return false;
    *out = m_data.substr(m_pos, length);
    m_pos += length;
    return true;
  }

 private:
  std::string_view m_data;
  std::size_t m_pos = kIppHeaderSize;
};

std::optional<std::string> deviceUriOfIpp(std::string_view ipp) {
  if (ipp.size() < kIppHeaderSize) return std::nullopt;
  const unsigned status =
      static_cast<unsigned char>(ipp[2]) << 8 | static_cast<unsigned char>(ipp[3]);
  if (status > kIppStatusOkConflicting) return std::nullopt;
  IppReader reader(ipp);
  std::string_view attribute;
  std::optional<std::string> uri;
  unsigned char tag = 0;
  while (reader.octet(&tag) && tag != kEndOfAttributes) {
    if (tag < kFirstValueTag) continue;  // the start of a group
    std::string_view name, value;
    if (!reader.counted(&name) || !reader.counted(&value)) return std::nullopt;
    if (!name.empty()) attribute = name;  // an empty name adds a value to the last one
    if (!uri && tag == kTagUri && attribute == kDeviceUri) uri = std::string(value);
  }
  // A uri that is empty or holds a zero octet cannot be a device URI.
  if (!uri || uri->empty() || uri->find('\0') != std::string::npos) return std::nullopt;
  return uri;
}

bool headerIs(std::string_view line, std::string_view name, std::string_view* value) {
  if (line.size() <= name.size() || line[name.size()] != ':' ||
      strncasecmp(line.data(), name.data(), name.size()) != 0) {
    return false;
  }
  *value = line.substr(name.size() + 1);
  while (!value->empty() && (value->front() == ' ' || value->front() == '\t')) {
    value->remove_prefix(1);
  }
  return true;
}

bool parseNumber(std::string_view text, int base, std::size_t* out) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *out, base);
  return error == std::errc{} && end != text.data();
}

// Decodes a chunked body (RFC 9112 7.1); kIncomplete until the last chunk.
AnswerState dechunk(std::string_view rest, std::string* body) {
  for (;;) {
    const std::size_t lineEnd = rest.find(kLineEnd);
    if (lineEnd == std::string_view::npos) return AnswerState::kIncomplete;
    std::size_t size = 0;
    if (!parseNumber(rest.substr(0, lineEnd), 16, &size)) return AnswerState::kMalformed;
    rest.remove_prefix(lineEnd + kLineEnd.size());
    if (size == 0) {  // the last chunk; the trailer section ends with an empty line
      const bool ended =
          rest.starts_with(kLineEnd) || rest.find(kHeaderEnd) != std::string_view::npos;
      return ended ? AnswerState::kComplete : AnswerState::kIncomplete;
    }
    if (size > kIppAnswerMax) return AnswerState::kMalformed;
    if (size > rest.size()) return AnswerState::kIncomplete;
    body->append(rest.substr(0, size));
    rest.remove_prefix(size);
    if (rest.size() < kLineEnd.size()) return AnswerState::kIncomplete;
    if (rest.substr(0, kLineEnd.size()) != kLineEnd) return AnswerState::kMalformed;
    rest.remove_prefix(kLineEnd.size());
  }
}

// Splits an answer into its HTTP status and body.
AnswerState frame(std::string_view answer, bool closed, int* status, std::string* body) {
  const std::size_t headerEnd = answer.find(kHeaderEnd);
  if (headerEnd == std::string_view::npos) {
    return closed || answer.size() > kIppAnswerMax ? AnswerState::kMalformed
                                                   : AnswerState::kIncomplete;
  }
  std::string_view head = answer.substr(0, headerEnd + kLineEnd.size());
  const std::size_t statusEnd = head.find(kLineEnd);
  std::size_t code = 0;
  if (!head.starts_with("HTTP/1.") || statusEnd < 12 ||
      !parseNumber(head.substr(9, 3), 10, &code)) {
    return AnswerState::kMalformed;
  }
  *status = static_cast<int>(code);
  head.remove_prefix(statusEnd + kLineEnd.size());
  bool chunked = false;
  std::optional<std::size_t> length;
  for (std::size_t end; (end = head.find(kLineEnd)) != std::string_view::npos;
       head.remove_prefix(end + kLineEnd.size())) {
    std::string_view value;
    std::size_t n = 0;
    if (headerIs(head.substr(0, end), "Transfer-Encoding", &value)) {
      chunked = value.find("chunked") != std::string_view::npos;
    } else if (headerIs(head.substr(0, end), "Content-Length", &value)) {
      if (!parseNumber(value, 10, &n)) return AnswerState::kMalformed;
      length = n;
    }
  }
  const std::string_view rest = answer.substr(headerEnd + kHeaderEnd.size());
  body->clear();
  AnswerState state = AnswerState::kComplete;
  if (chunked) {
    state = dechunk(rest, body);
  } else if (length) {
    if (*length > kIppAnswerMax) return AnswerState::kMalformed;
    if (rest.size() < *length) state = AnswerState::kIncomplete;
    body->assign(rest.substr(0, std::min(rest.size(), *length)));
  } else {
    body->assign(rest);  // the body ends with the connection
    if (!closed) state = AnswerState::kIncomplete;
  }
  if (state == AnswerState::kIncomplete && (closed || answer.size() > kIppAnswerMax)) {
    return AnswerState::kMalformed;
  }
  return state;
}

}  // namespace

std::optional<std::string> deviceUriRequest(const std::string& queue, const std::string& user,
                                            const std::string& hostHeader) {
  const std::string printerUri = "ipp://localhost/printers/" + percentEncoded(queue);
  if (printerUri.size() > kUriMax) return std::nullopt;
  std::string ipp;
  put16(ipp, kIppVersion);
  put16(ipp, kGetPrinterAttributes);
  ipp.append({0, 0, 0, 1});  // request-id
  ipp += kOperationAttributes;
  putAttribute(ipp, 0x47, "attributes-charset", "utf-8");
  putAttribute(ipp, 0x48, "attributes-natural-language", "en");
  putAttribute(ipp, kTagUri, "printer-uri", printerUri);
  putAttribute(ipp, 0x42, "requesting-user-name", std::string_view(user).substr(0, kNameMax));
  putAttribute(ipp, 0x44, "requested-attributes", kDeviceUri);
  ipp += kEndOfAttributes;
  return "POST / HTTP/1.1\r\nHost: " + hostHeader +
         "\r\nContent-Type: application/ipp\r\nContent-Length: " + std::to_string(ipp.size()) +
         "\r\nConnection: close\r\n\r\n" + ipp;
}

AnswerState answerState(std::string_view answer, bool closed) {
  int status = 0;
  std::string body;
  return frame(answer, closed, &status, &body);
}

std::optional<std::string> deviceUriOfAnswer(std::string_view answer) {
  int status = 0;
  std::string body;
  if (frame(answer, true, &status, &body) != AnswerState::kComplete || status != kHttpOk) {
    return std::nullopt;
  }
  return deviceUriOfIpp(body);
}

}  // namespace usbink::platform
