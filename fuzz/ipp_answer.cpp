// Answers of the CUPS scheduler as the tool reads them: any bytes, framed
// as HTTP and taken apart as IPP. Whatever comes in, a device URI handed
// out is never empty and holds no zero octet.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "tool/platform/ipp_message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact-size copy, so that any read past the answer is caught.
  const std::vector<char> bytes(data, data + size);
  const std::string_view answer(bytes.data(), bytes.size());
  usbink::platform::answerState(answer, false);
  const auto uri = usbink::platform::deviceUriOfAnswer(answer);
  if (uri && (uri->empty() || uri->find('\0') != std::string::npos)) std::abort();
  return 0;
}
