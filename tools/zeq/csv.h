// tools/zeq/csv.h - CSV and TSV records on top of libcsv: a reader that hands
// out one record at a time in constant memory and knows the line each record
// began on, and the field writer.
//
// CSV follows RFC 4180: fields separated by commas, quoted with double quotes
// when they hold a comma, a quote (doubled) or a line break.  TSV is the same
// with a tab as separator.  Blank lines are skipped; a UTF-8 byte-order mark
// before the first record is dropped.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

struct csv_parser;

namespace zeqtool {

using Record = std::vector<std::string>;

class CsvReader {
 public:
  // Longest record accepted by default (an unclosed quote would otherwise
  // swallow the file).
  static constexpr size_t kMaxRecordBytes = 64u << 20;

  CsvReader(std::FILE *in, char delimiter, size_t max_record_bytes = kMaxRecordBytes);
  ~CsvReader();
  CsvReader(const CsvReader &) = delete;
  CsvReader &operator=(const CsvReader &) = delete;

  // The next record into `out`; false at the end of the input or on an error
  // (then error() is not empty).
  bool next(Record &out);
  // "line N: ..." after a malformed record or a read error; "" otherwise.
  const std::string &error() const { return error_; }
  // Line on which the record last returned began (1-based).
  int64_t line() const { return record_line_; }
  // Bytes read from the input so far.
  uint64_t bytes() const { return bytes_; }

 private:
  struct Pending {
    Record fields;
    int64_t line;
  };
  static void on_field(void *data, size_t len, void *self);
  static void on_record(int terminator, void *self);
  bool fill();  // parses one more chunk; false at the end or on an error
  void fail(int64_t line, const std::string &message);

  std::FILE *in_;
  size_t max_record_;
  csv_parser *parser_;
  std::deque<Pending> ready_;
  Record current_;
  size_t current_bytes_ = 0;
  int64_t line_ = 1;         // line the record being parsed began on
  int64_t newlines_ = 0;     // line breaks in the chunks fully parsed
  int64_t record_line_ = 0;
  uint64_t bytes_ = 0;
  bool at_end_ = false;
  bool first_chunk_ = true;
  std::string error_;
};

// Appends one field to a CSV/TSV line, quoted only when it has to be.
void append_field(std::string &line, std::string_view field, char delimiter);
// A whole record and its line break.
void append_record(std::string &line, const Record &fields, char delimiter);

}  // namespace zeqtool
