// tools/zeq/csv.h - CSV and TSV records: a reader that hands out one record
// at a time in bounded memory and knows the line each record began on, and the
// field writer.
//
// CSV follows RFC 4180: fields separated by the delimiter (a comma unless
// told otherwise), quoted with double quotes when they hold the delimiter, a
// quote (doubled) or a line break.  TSV is the format of the tab-separated
// exports of databases and spreadsheets: fields split on tabs, no quoting, and
// the escapes \t, \n, \r and \\ for a tab, a line feed, a carriage return and a
// backslash inside a field (any other backslash stands for itself).
//
// Records end at a line feed, a carriage return and line feed, or a lone
// carriage return.  Blank lines are skipped; a UTF-8 byte-order mark before
// the first record is dropped.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace zeqtool {

using Record = std::vector<std::string>;

struct Dialect {
  char delimiter = ',';
  bool tsv = false;  // no quoting; backslash escapes
};

// The fields of one or more records in one buffer: their bytes one after
// another and where each field ends.
struct Fields {
  std::string bytes;
  std::vector<size_t> ends;

  size_t size() const { return ends.size(); }
  std::string_view operator[](size_t i) const {
    const size_t b = i ? ends[i - 1] : 0;
    return {bytes.data() + b, ends[i] - b};
  }
  void clear() {
    bytes.clear();
    ends.clear();
  }
};

class CsvReader {
 public:
  // Longest record accepted by default (an unclosed quote would otherwise
  // swallow the file), and the most fields a record may have.
  static constexpr size_t kMaxRecordBytes = 64u << 20;
  static constexpr size_t kMaxFields = 1u << 20;

  CsvReader(std::FILE *in, Dialect dialect, size_t max_record_bytes = kMaxRecordBytes);
  CsvReader(const CsvReader &) = delete;
  CsvReader &operator=(const CsvReader &) = delete;

  // Appends the next record's fields to `out` and answers how many it has;
  // 0 at the end of the input or on an error (then error() is not empty).
  size_t next(Fields &out);
  // The next record into `out`; false at the end of the input or on an error.
  bool next(Record &out);
  // "line N: ..." after a malformed record or a read error; "" otherwise.
  const std::string &error() const { return error_; }
  // Line on which the record last returned began (1-based).
  int64_t line() const { return record_line_; }
  // Bytes read from the input so far.
  uint64_t bytes() const { return bytes_; }

 private:
  enum class Step { Record, More, Bad, End };
  Step parse(Fields &out, size_t &count);
  Step quoted(const char *&p, const char *e, Fields &out);
  Step plain(const char *&p, const char *e, Fields &out);
  bool refill();
  Step fail(int64_t line, const std::string &message);

  std::FILE *in_;
  Dialect dialect_;
  size_t max_record_;
  std::vector<char> buf_;
  size_t pos_ = 0, end_ = 0;  // unparsed bytes of buf_
  bool at_eof_ = false;
  bool first_read_ = true;
  int64_t line_ = 1;  // line the next record begins on
  int64_t newlines_ = 0;  // line breaks in the record being parsed
  int64_t record_line_ = 0;
  uint64_t bytes_ = 0;
  std::string error_;
};

// Appends one field to a line: quoted only when it has to be (CSV), or with
// its tabs, line breaks and backslashes escaped (TSV).
void append_field(std::string &line, std::string_view field, const Dialect &dialect);
// A whole record and its line break.
void append_record(std::string &line, const Record &fields, const Dialect &dialect);

}  // namespace zeqtool
