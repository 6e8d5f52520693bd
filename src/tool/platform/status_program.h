// Runs the USB status program and collects what it prints.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace usbink::platform {

// The most output kept; the rest is read and dropped so the program never
// blocks on a full pipe.
inline constexpr std::size_t kStatusOutputMax = 4095;

// How long the program may take. One USB transfer the printer does not
// answer costs the program 5 s, so several candidate printers fit well
// inside; a program that hangs, or prints without end, is stopped here
// rather than hold up its caller (a print job, for the usbink-levels filter)
// for ever.
inline constexpr std::chrono::milliseconds kStatusProgramTimeLimit{30000};

// Runs `program` with the arguments `queue` and `uri`, directly and without
// a shell, so nothing in them is ever interpreted. Returns its standard
// output up to kStatusOutputMax bytes (and up to a first NUL byte, which
// ends the text), after the program has ended; one still running after
// `timeLimit` is killed, and what it printed until then is its output. Its
// exit status is not examined. Nothing when it cannot be started.
std::optional<std::string> runStatusProgram(
    const std::string& program, const std::string& queue, const std::string& uri,
    std::chrono::milliseconds timeLimit = kStatusProgramTimeLimit);

}  // namespace usbink::platform
