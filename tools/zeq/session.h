// tools/zeq/session.h - runs statements against the module the way a host
// program executes them: one worker (one task, so COMPCOST's costs persist
// from statement to statement), variables, and the host's settings.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/call.h"
#include "host/host.h"
#include "tools/zeq/parser.h"

namespace zeqtool {

struct SessionOptions {
  int64_t length = 200;        // declared length of character results and targets
  bool growable = false;       // results with an allocator instead of a fixed buffer
  bool utf8 = true;            // UTF-8 session (multibyte route); false: Latin-1
  bool varchar = false;        // pass string arguments as varying-length values
  int result_kind = 0;         // resultKind byte of every call site
  int repeat = 1;              // executions of each call site
  int log_threshold = 2;       // journal lines at or above this level are shown
  bool log_none = false;       // show no log lines at all
  bool keep_log = true;        // the host keeps every line (rand reads them back)
  std::string module_path;
};

// One outcome of a statement.
struct Outcome {
  int32_t status = 0;                // status of the last execution
  bool ok = true;                    // false: the statement could not be run or the call failed
  bool usage = false;                // the statement itself is wrong (parse error, unknown name)
  bool noted = false;                // the call wrote a note, warning or error line
  std::string error;                 // a sentence: why it did not run, or what the call reported
  std::vector<std::string> output;   // result texts (a CALL: NAME=value per variable)
  std::vector<std::string> log;      // log lines for stderr
};

class Session {
 public:
  explicit Session(SessionOptions options);
  ~Session();

  bool ready() const;
  std::string load_error() const;
  zeqhost::Host &host();

  // Variables: character (padded to the declared length, as a host variable
  // is) and numeric; a CALL writes back into them.
  void define_char(const std::string &name, const std::string &value);
  void define_num(const std::string &name, double value);
  // Settings in the host's name/value store.
  void set_setting_text(const std::string &name, const std::string &value);
  void set_setting_double(const std::string &name, double value);
  void set_setting_int(const std::string &name, int64_t value);

  Outcome run(const Statement &st);
  Outcome run_text(const std::string &text);

  // Log lines the host received since the last call (outside calls), filtered
  // by the options.
  std::vector<std::string> take_log();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The value of a constant argument (a string, a number or '.').
zeqhost::Value constant_value(const Arg &a);

// Shortest text that reads back as the same double; "." for a missing value.
std::string format_number(double x);

}  // namespace zeqtool
