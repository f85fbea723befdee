#include "tools/zeq/output.h"

#include <cerrno>
#include <cstring>

namespace zeqtool {

bool Output::check(bool ok) {
  if (!ok && !error_) error_ = errno ? errno : EIO;
  return !error_;
}

bool Output::write(std::string_view bytes) {
  if (error_) return false;
  errno = 0;
  return check(std::fwrite(bytes.data(), 1, bytes.size(), f_) == bytes.size());
}

bool Output::flush() {
  if (error_) return false;
  errno = 0;
  return check(std::fflush(f_) == 0 && !std::ferror(f_));
}

bool Output::close() {
  flush();
  if (f_ != stdout && f_) {
    errno = 0;
    check(std::fclose(f_) == 0);
    f_ = nullptr;
  }
  return !error_;
}

std::string Output::sentence() const { return std::string("cannot write the output: ") + std::strerror(error_); }

}  // namespace zeqtool
