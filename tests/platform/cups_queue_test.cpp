// The scheduler's answers as the tool reads them (recorded from cupsd 2.4
// and varied), the request it writes, and device URIs split the way the
// print system splits them.
#include "tool/platform/cups_queue.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "support/process.h"
#include "tool/platform/ipp_message.h"

namespace usbink::platform {
namespace {

std::string recorded(const std::string& name) {
  return test::readFile(std::string(USBINK_SOURCE_DIR) + "/fuzz/corpus/fuzz_ipp_answer/" + name);
}

// The recorded answer for the queue with device URI "socket://127.0.12.2",
// with `from` replaced by `to` and its Content-Length (if any) mended.
std::string varied(const std::string& from, const std::string& to) {
  const std::string answer = recorded("cupsd_device_uri");
  const std::size_t split = answer.find("\r\n\r\n") + 4;
  std::string head = answer.substr(0, split), body = answer.substr(split);
  std::string& part = head.find(from) != std::string::npos ? head : body;
  part.replace(part.find(from), from.size(), to);
  constexpr std::string_view kLength = "Content-Length: ";
  if (const std::size_t at = head.find(kLength); at != std::string::npos) {
    const std::size_t value = at + kLength.size();
    head.replace(value, head.find('\r', value) - value, std::to_string(body.size()));
  }
  return head + body;
}

TEST(SchedulerAnswer, GivesTheDeviceUriOnlyFromAWholeSuccessfulAnswer) {
  const std::string uri = "socket://127.0.12.2";
  const std::string uriAttribute = std::string(
                                       "\x45\x00\x0a"
                                       "device-uri\x00\x13",
                                       15) +
                                   uri;
  const struct {
    const char* what;
    std::string answer;
    std::optional<std::string> uri;
  } cases[] = {
      {"recorded answer", recorded("cupsd_device_uri"), uri},
      {"recorded answer, chunked", recorded("chunked_device_uri"), uri},
      {"recorded client-error-not-found", recorded("cupsd_not_found"), std::nullopt},
      {"ended by the connection", varied("Content-Length: 107\r\n", ""), uri},
      {"HTTP 426, encryption required", varied("200 OK", "426 Upgrade Required"), std::nullopt},
      {"uri tagged as text", varied(uriAttribute, "\x41" + uriAttribute.substr(1)), std::nullopt},
      {"empty uri", varied(std::string("\x13", 1) + uri, std::string("\x00", 1)), std::nullopt},
      {"uri with a zero octet", varied("socket:", std::string("sock\0t:", 7)), std::nullopt},
      {"a second value", varied(uri, uri + std::string("\x45\x00\x00\x00\x01x", 6)), uri},
      {"value longer than the message", varied(std::string("\x13", 1) + uri, "\x7f" + uri),
       std::nullopt},
      {"extra octets after the body", recorded("cupsd_device_uri") + "junk", uri},
  };
  for (const auto& c : cases) EXPECT_EQ(deviceUriOfAnswer(c.answer), c.uri) << c.what;
}

TEST(SchedulerAnswer, NoPrefixOfAnAnswerIsTakenForTheWhole) {
  for (const char* name : {"cupsd_device_uri", "chunked_device_uri"}) {
    const std::string whole = recorded(name);
    for (std::size_t n = 0; n < whole.size(); ++n) {
      const std::string prefix = whole.substr(0, n);
      EXPECT_EQ(answerState(prefix, false), AnswerState::kIncomplete) << name << " " << n;
      EXPECT_EQ(answerState(prefix, true), AnswerState::kMalformed) << name << " " << n;
      EXPECT_EQ(deviceUriOfAnswer(prefix), std::nullopt) << name << " " << n;
    }
  }
}

TEST(SchedulerRequest, AsksForTheDeviceUriOfTheQueueWithItsNameEncoded) {
  const auto request = deviceUriRequest("Laser 1/é", "alice", "localhost");
  ASSERT_TRUE(request);
  const std::size_t body = request->find("\r\n\r\n") + 4;
  EXPECT_EQ(request->substr(0, 34), "POST / HTTP/1.1\r\nHost: localhost\r\n");
  EXPECT_NE(request->find("Content-Length: " + std::to_string(request->size() - body)),
            std::string::npos);
  EXPECT_EQ(request->substr(body, 4), std::string("\x02\x00\x00\x0b", 4));
  EXPECT_NE(request->find("ipp://localhost/printers/Laser%201%2F%C3%A9"), std::string::npos);
  EXPECT_NE(request->find(std::string("requesting-user-name\x00\x05"
                                      "alice",
                                      27)),
            std::string::npos);
  EXPECT_NE(request->find(std::string("requested-attributes\x00\x0a"
                                      "device-uri",
                                      32)),
            std::string::npos);
  EXPECT_FALSE(deviceUriRequest(std::string(1000, 'q'), "alice", "localhost"));
}

TEST(UriSplit, TakesSchemeAndDecodedHostLikeThePrintSystem) {
  const struct {
    const char* uri;
    std::optional<UriParts> parts;
  } cases[] = {
      {"socket://127.0.0.5:9100", UriParts{"socket", "127.0.0.5"}},
      {"IPP://[fd00:3::5]:631/ipp/print", UriParts{"IPP", "fd00:3::5"}},
      {"dnssd://Acme%20Laser._printer._tcp.local./",
       UriParts{"dnssd", "Acme Laser._printer._tcp.local."}},
      {"lpd://user:pw@host.example:515/q", UriParts{"lpd", "host.example"}},
      {"ipp://host?x=1", UriParts{"ipp", "host"}},
      {"socket:///tmp/x", UriParts{"socket", ""}},
      {"usb://Acme/Laser%201?serial=X1", UriParts{"usb", "Acme"}},
      {"usb:Acme/Laser", UriParts{"usb", ""}},
      {"no scheme", std::nullopt},
      {":x", std::nullopt},
      {"1pp://host", std::nullopt},
      {"s c://host", std::nullopt},
      {"ipp://[::1/x", std::nullopt},
      {"ipp://host:port/x", std::nullopt},
      {"dnssd://bad%2/", std::nullopt},
      {"dnssd://zero%00octet/", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto parts = splitUri(c.uri);
    ASSERT_EQ(parts.has_value(), c.parts.has_value()) << c.uri;
    if (parts) {
      EXPECT_EQ(parts->scheme, c.parts->scheme) << c.uri;
      EXPECT_EQ(parts->host, c.parts->host) << c.uri;
    }
  }
}

}  // namespace
}  // namespace usbink::platform
