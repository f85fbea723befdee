#include "tools/zeq/csv.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <csv.h>

namespace zeqtool {

namespace {

constexpr size_t kChunk = 64 * 1024;

int no_spaces(unsigned char) { return 0; }  // blanks around a field belong to it

int64_t count_newlines(const char *p, size_t n) { return std::count(p, p + n, '\n'); }

}  // namespace

CsvReader::CsvReader(std::FILE *in, char delimiter, size_t max_record_bytes)
    : in_(in), max_record_(max_record_bytes), parser_(new csv_parser) {
  csv_init(parser_, CSV_STRICT | CSV_STRICT_FINI | CSV_REPALL_NL);
  csv_set_delim(parser_, (unsigned char)delimiter);
  csv_set_space_func(parser_, no_spaces);
}

CsvReader::~CsvReader() {
  csv_free(parser_);
  delete parser_;
}

void CsvReader::on_field(void *data, size_t len, void *self) {
  auto *r = static_cast<CsvReader *>(self);
  r->current_.emplace_back(static_cast<const char *>(data), len);
  r->current_bytes_ += len + sizeof(std::string);  // a field costs its record slot too
}

// Every unquoted line break reaches here (CSV_REPALL_NL), so line numbers
// stay right across blank lines and line breaks inside quoted fields.
void CsvReader::on_record(int terminator, void *self) {
  auto *r = static_cast<CsvReader *>(self);
  int64_t inner = 0;
  for (const auto &f : r->current_) inner += count_newlines(f.data(), f.size());
  if (!r->current_.empty()) r->ready_.push_back({std::move(r->current_), r->line_});
  r->current_.clear();
  r->current_bytes_ = 0;
  r->line_ += inner + (terminator == '\n' ? 1 : 0);
}

void CsvReader::fail(int64_t line, const std::string &message) {
  error_ = "line " + std::to_string(line) + ": " + message;
}

bool CsvReader::fill() {
  if (at_end_ || !error_.empty()) return false;
  char buf[kChunk];
  size_t n = std::fread(buf, 1, sizeof buf, in_);
  if (n == 0) {
    at_end_ = true;
    if (std::ferror(in_)) {
      fail(line_, std::string("cannot read the input: ") + std::strerror(errno));
      return false;
    }
    if (csv_fini(parser_, on_field, on_record, this) != 0) {
      fail(line_, "a quoted field is not closed before the end of the input");
      return false;
    }
    return !ready_.empty();
  }
  bytes_ += n;
  const char *p = buf;
  if (first_chunk_ && n >= 3 && std::memcmp(buf, "\xEF\xBB\xBF", 3) == 0) p += 3, n -= 3;
  first_chunk_ = false;
  size_t done = csv_parse(parser_, p, n, on_field, on_record, this);
  if (done != n) {
    fail(1 + newlines_ + count_newlines(p, std::min(done, n)),
         csv_error(parser_) == CSV_EPARSE
             ? "malformed field: a quote inside an unquoted field, or text after a closing quote"
             : csv_strerror(csv_error(parser_)));
    return false;
  }
  newlines_ += count_newlines(p, n);
  if (current_bytes_ + csv_get_buffer_size(parser_) > max_record_) {
    fail(line_, "a record longer than " + std::to_string(max_record_ >> 20) + " MiB (is a quote left open?)");
    return false;
  }
  return true;
}

bool CsvReader::next(Record &out) {
  while (ready_.empty())
    if (!fill() && ready_.empty()) return false;
  out = std::move(ready_.front().fields);
  record_line_ = ready_.front().line;
  ready_.pop_front();
  return true;
}

void append_field(std::string &line, std::string_view field, char delimiter) {
  const char special[] = {delimiter, '"', '\r', '\n', '\0'};
  if (field.find_first_of(special) == std::string_view::npos) {
    line.append(field);
    return;
  }
  size_t at = line.size();
  line.resize(at + 2 * field.size() + 2);
  line.resize(at + csv_write(line.data() + at, line.size() - at, field.data(), field.size()));
}

void append_record(std::string &line, const Record &fields, char delimiter) {
  for (size_t i = 0; i < fields.size(); i++) {
    if (i) line.push_back(delimiter);
    append_field(line, fields[i], delimiter);
  }
  line.push_back('\n');
}

}  // namespace zeqtool
