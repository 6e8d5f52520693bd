// The one IPP exchange the tool has with the CUPS scheduler (RFC 8010,
// RFC 8011): a Get-Printer-Attributes request for a queue's "device-uri",
// carried in an HTTP/1.1 POST, and the scheduler's answer taken apart.
// Pure functions over bytes; the connection lives in cups_queue.cpp.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace usbink::platform {

// The most octets of an answer the tool reads: one attribute of at most
// 1023 octets with the usual response attributes fits many times over.
inline constexpr std::size_t kIppAnswerMax = 64 * 1024;

// The whole HTTP request asking the scheduler `hostHeader` for the
// "device-uri" of `queue`, on behalf of `user`. Nothing when the queue's
// printer URI would be longer than the 1023 octets IPP allows a uri.
std::optional<std::string> deviceUriRequest(const std::string& queue, const std::string& user,
                                            const std::string& hostHeader);

// What an answer read so far amounts to.
enum class AnswerState { kIncomplete, kComplete, kMalformed };

// Whether `answer` (all octets received so far) holds a whole HTTP
// response; with `closed`, the scheduler has closed the connection.
AnswerState answerState(std::string_view answer, bool closed);

// The "device-uri" of a whole answer: HTTP status 200 and an IPP status of
// successful-ok (or ok-ignored / ok-conflicting) carrying a non-empty uri
// value. Nothing for anything else.
std::optional<std::string> deviceUriOfAnswer(std::string_view answer);

}  // namespace usbink::platform
