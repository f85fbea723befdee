#include "python/src/process_host.h"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string>

namespace zeqpy {
namespace {

std::string module_beside_extension() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void *>(&module_beside_extension), &info) || !info.dli_fname) return "";
  std::string path = info.dli_fname;
  size_t slash = path.rfind('/');
  return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/libzeqwucha.so";
}

}  // namespace

zeqhost::Host &process_host() {
  static std::once_flag once;
  static zeqhost::Host *host = nullptr;  // never destroyed: threads may still run at exit
  std::call_once(once, [] {
    zeqhost::HostOptions options;
    const char *env = std::getenv("ZEQ_MODULE");
    options.module_path = env && *env ? env : module_beside_extension();
    options.keep_log = false;  // a long-lived process: each call reads its own lines
    host = new zeqhost::Host(options);
  });
  if (!host->loaded())
    throw std::runtime_error("zeqwucha: the module could not be loaded: " + host->load_error());
  return *host;
}

}  // namespace zeqpy
