// vesk-catalogue: the command catalogue as JSON, the data file that the
// Python package carries (clients/python/vesk/catalogue.json).
//
//   vesk-catalogue > clients/python/vesk/catalogue.json
//   vesk-catalogue --check clients/python/vesk/catalogue.json   (exit 1 when stale)
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "client/catalogue_json.h"

int main(int argc, char** argv) {
  const std::string json = vesk::client::CatalogueJson();
  if (argc == 1) {
    std::fputs(json.c_str(), stdout);
    return 0;
  }
  if (argc != 3 || std::strcmp(argv[1], "--check") != 0) {
    std::fprintf(stderr, "usage: vesk-catalogue [--check FILE]\n");
    return 2;
  }
  std::ifstream file(argv[2], std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  if (file && text.str() == json) return 0;
  std::fprintf(stderr,
               "%s is out of date with the command catalogue: regenerate it with\n"
               "  build/default/client/vesk-catalogue > clients/python/vesk/catalogue.json\n",
               argv[2]);
  return 1;
}
