// The installed reference host used from C++ through find_package(zeqwucha):
// loads the installed module and makes one call.  Prints its result.
#include <cstdio>

#include "host/call.h"

int main() {
  zeqhost::HostOptions options;
  options.module_path = ZEQ_INSTALLED_MODULE;
  zeqhost::Host host(options);
  if (!host.loaded()) {
    std::fprintf(stderr, "%s\n", host.load_error().c_str());
    return 1;
  }
  zeqhost::Worker worker(host);
  auto out = worker.call("COMPGED", {zeqhost::Value::str("John Smith"), zeqhost::Value::str("Jon Smyth")});
  if (!out.ok()) {
    std::fprintf(stderr, "%s\n", out.sentence().c_str());
    return 1;
  }
  std::printf("%s\n", zeqhost::format_number(out.result.number).c_str());
  return 0;
}
