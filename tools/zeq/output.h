// tools/zeq/output.h - where zeq writes its results: a stream whose every
// write is checked, so that a full disk or any other write error stops zeq at
// once instead of being found (or not) at the end.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace zeqtool {

class Output {
 public:
  explicit Output(std::FILE *f) : f_(f) {}

  // Writes the bytes; false once a write has failed (and from then on).
  bool write(std::string_view bytes);
  bool flush();
  // Flushes, and closes the stream unless it is stdout; false when any write failed.
  bool close();
  bool failed() const { return error_ != 0; }
  // "cannot write the output: No space left on device".
  std::string sentence() const;
  std::FILE *file() const { return f_; }

 private:
  bool check(bool ok);
  std::FILE *f_;
  int error_ = 0;
};

}  // namespace zeqtool
