// tools/zeq/batch.h - `zeq batch`: applies NAME=EXPRESSION columns to every
// row of a CSV or TSV input and writes the rows with the new columns.
//
// The input streams through in blocks of rows; each of `jobs` threads has its
// own worker (its own task, so COMPCOST's costs and call-site caches behave as
// in the host) and one call site per new column; blocks are written in input
// order.  Memory stays bounded whatever the size of the input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host.h"
#include "tools/zeq/csv.h"
#include "tools/zeq/output.h"

namespace zeqtool {

struct BatchOptions {
  std::string input;                 // file name, or "-" for stdin
  std::vector<std::string> specs;    // 'NAME=EXPRESSION', or a leading 'CALL ...' per worker
  std::vector<std::string> numeric;  // columns read as numbers (--num)
  Dialect dialect;                   // CSV (any delimiter) or TSV
  bool no_header = false;            // no header row in or out; columns are c1, c2, ...
  unsigned jobs = 0;                 // 0: one per core
  enum class Progress { Auto, On, Off } progress = Progress::Auto;
  enum class OnError { Stop, Skip, Empty } on_error = OnError::Stop;
  int64_t length = 200;              // declared length of character results
  bool growable = false;             // results through an allocator, sized by need
  int result_kind = 0;
  bool utf8 = true;
  bool varchar = false;
};

// Runs the batch, writing the rows to `out`; messages go to stderr.  Answers
// the exit status: 0 every call OK, 1 a call returned a note or failed, 2 a
// usage or input error, or output that could not be written.
int run_batch(zeqhost::Host &host, const BatchOptions &opt, Output &out);

}  // namespace zeqtool
