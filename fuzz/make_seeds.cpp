// Writes the fuzz targets' seed corpus, a valid request of every command
// from the command catalogue, and their dictionary of the command codes.
// Usage: vesk_fuzz_seeds <corpus folder> <dictionary file>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "client/command_catalogue.h"
#include "fuzz/fuzz_support.h"
#include "protocol/wire.h"

namespace {

using vesk::client::CommandInfo;

// Zeros for numbers (inside every checked range but a few), a capture path
// for texts, EnableFenk set so that extended codes are served.
std::vector<std::uint8_t> SeedOf(const CommandInfo& command) {
  std::vector<std::uint8_t> body(vesk::client::FixedRequestSize(command), 0);
  if (vesk::client::HasVariableText(command)) {
    const char path[] = "C:\\images\\seed.bmp";
    body.insert(body.end(), path, path + sizeof path);
  }
  std::vector<std::uint8_t> input = {1, 0};
  std::uint8_t header[16] = {};
  vesk::WriteU16(header, static_cast<std::uint16_t>(16 + body.size()));
  std::memcpy(header + 6, command.code, 4);
  input.insert(input.end(), header, header + sizeof header);
  input.insert(input.end(), body.begin(), body.end());
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <corpus folder> <dictionary file>\n", argv[0]);
    return 2;
  }
  std::filesystem::create_directories(argv[1]);
  std::ofstream dictionary(argv[2], std::ios::binary);
  dictionary << "magic=\"BS!a\"\n";
  for (const CommandInfo& command : vesk::client::CommandCatalogue()) {
    const std::vector<std::uint8_t> seed = SeedOf(command);
    std::ofstream(std::filesystem::path(argv[1]) / command.code, std::ios::binary)
        .write(reinterpret_cast<const char*>(seed.data()), static_cast<std::streamsize>(seed.size()));
    dictionary << command.code << "=\"" << command.code << "\\x00\"\n";
  }
  return dictionary ? 0 : 1;
}
