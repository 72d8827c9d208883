#include <cstdio>
#include <cstring>
#include <exception>

#include "legacy/fatal.hpp"
#include "legacy/program.hpp"
#include "orvus/version.hpp"

int main(int argc, char** argv) {
  if (argc > 1) {
    if (std::strcmp(argv[1], "--version") == 0) {
      std::printf("ORVUS v" ORVUS_VERSION "\n");
      return 0;
    }
    std::printf(
        "Usage: orvus\n"
        "Predicts image-acquisition contacts. Run it with no arguments in a directory that\n"
        "holds ORVUS_IN.TXT, the element file it names and finals2000A.data; it writes\n"
        "ORVUS_v" ORVUS_VERSION "_OUT1.TXT, ORVUS_v" ORVUS_VERSION
        "_OUT2.CSV and ORVUS_v" ORVUS_VERSION "_OUT3.CSV there.\n");
    return std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
  }
  try {
    orvus::ORVUS();
  } catch (const orvus::Fatal& error) {
    std::fflush(stdout);
    orvus::print_fatal(error);
    return 1;
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::printf(" ORVUS: %s\n EXECUTION INTERRUPTED.\n", error.what());
    return 1;
  }
  return 0;
}
