// Runs the USB status program and collects what it prints.
#pragma once

#include <optional>
#include <string>

namespace usbink::platform {

// The most output kept; the rest is read and dropped so the program never
// blocks on a full pipe.
inline constexpr std::size_t kStatusOutputMax = 4095;

// Runs `program` with the arguments `queue` and `uri`, directly and without
// a shell, so nothing in them is ever interpreted. Returns its standard
// output up to kStatusOutputMax bytes (and up to a first NUL byte, which
// ends the text), after the program has ended. Its exit status is not
// examined. Nothing when it cannot be started.
std::optional<std::string> runStatusProgram(const std::string& program, const std::string& queue,
                                            const std::string& uri);

}  // namespace usbink::platform
