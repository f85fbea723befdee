// Fuzz target: zeq's CSV/TSV reader.  The first byte picks the dialect (CSV
// with a comma or a semicolon, or TSV); the rest is the input, read with a
// small record cap.  Whatever it reads must write back and read again to the
// same records, and an error must name a line.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/zeq/csv.h"

using zeqtool::CsvReader;
using zeqtool::Dialect;
using zeqtool::Record;

namespace {

std::vector<Record> read_all(std::string &text, const Dialect &d, size_t cap, std::string &error) {
  std::vector<Record> out;
  std::FILE *f = fmemopen(text.empty() ? nullptr : text.data(), text.size(), "r");
  if (!f) return out;
  CsvReader reader(f, d, cap);
  Record rec;
  while (reader.next(rec)) {
    if (reader.line() < 1) std::abort();
    out.push_back(rec);
  }
  error = reader.error();
  std::fclose(f);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const Dialect dialects[] = {{',', false}, {';', false}, {'\t', true}};
  const Dialect d = dialects[data[0] % 3];
  std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
  std::string error;
  const std::vector<Record> records = read_all(text, d, 4096, error);
  if (!error.empty() && error.rfind("line ", 0) != 0) std::abort();

  std::string written = "\xEF\xBB\xBF";  // the reader drops one byte-order mark, not a field's
  for (const Record &r : records) {
    if (r.size() == 1 && r[0].empty()) continue;  // written, it would be a blank line
    zeqtool::append_record(written, r, d);
  }
  std::string again_error;
  const std::vector<Record> again = read_all(written, d, written.size() + 1, again_error);
  if (!again_error.empty()) std::abort();
  size_t k = 0;
  for (const Record &r : records) {
    if (r.size() == 1 && r[0].empty()) continue;
    if (k >= again.size() || again[k++] != r) std::abort();
  }
  if (k != again.size()) std::abort();
  return 0;
}
