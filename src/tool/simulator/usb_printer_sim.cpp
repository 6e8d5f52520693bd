// A simulated USB printer, standing in for the USB status program in the
// demo and the tests: prints the device-ID string of an Acme laser printer.
//
//   USBINK_SIM_LEVEL=N        byte 0 of the status block (default 57)
//   USBINK_SIM_OUTPUT=FILE    print FILE's bytes instead
//   USBINK_SIM_ARGS=FILE      record the arguments received, NUL-separated
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "usbink/base64.h"
#include "usbink/status.h"

namespace {

constexpr int kDefaultLevel = 57;

std::string deviceId(int level) {
  unsigned char block[kPrinterStatusSize];
  block[0] = static_cast<unsigned char>(level);
  for (std::size_t i = 1; i < kPrinterStatusSize; ++i) block[i] = static_cast<unsigned char>(i);
  char text[200];
  base64_encode(block, sizeof block, text, sizeof text);
  return std::string("MFG:Acme;CMD:PCL,PJL;MDL:Laser Sim 1000;CLS:PRINTER;"
                     "DES:Acme Laser Sim 1000 (simulated);SN:SIM0001;STS:") +
         text + ";";
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* argsFile = std::getenv("USBINK_SIM_ARGS")) {
    std::ofstream out(argsFile, std::ios::binary);
    for (int i = 0; i < argc; ++i) out << argv[i] << '\0';
  }
  if (const char* outputFile = std::getenv("USBINK_SIM_OUTPUT")) {
    std::ifstream in(outputFile, std::ios::binary);
    std::cout << std::string(std::istreambuf_iterator<char>(in), {});
    return 0;
  }
  const char* level = std::getenv("USBINK_SIM_LEVEL");
  std::cout << deviceId(level != nullptr ? std::atoi(level) : kDefaultLevel) << "\n";
  return 0;
}
