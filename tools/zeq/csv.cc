#include "tools/zeq/csv.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zeqtool {

namespace {

constexpr size_t kChunk = 256 * 1024;

int64_t count_newlines(const char *p, const char *e) {
  int64_t n = 0;
  while ((p = static_cast<const char *>(std::memchr(p, '\n', (size_t)(e - p))))) n++, p++;
  return n;
}

// Where the first byte that a field cannot hold as it is (the delimiter, a
// line break, the quote or, in TSV, the backslash) is; the field's size when
// there is none.  Sixteen bytes at a time where the processor can.
size_t first_special(std::string_view f, const Dialect &d) {
  const char quote = d.tsv ? '\\' : '"';
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i vd = _mm_set1_epi8(d.delimiter), vn = _mm_set1_epi8('\n'), vr = _mm_set1_epi8('\r'),
                vq = _mm_set1_epi8(quote);
  for (; i + 16 <= f.size(); i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(f.data() + i));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, vd), _mm_cmpeq_epi8(x, vn)),
                                     _mm_or_si128(_mm_cmpeq_epi8(x, vr), _mm_cmpeq_epi8(x, vq)));
    if (const int mask = _mm_movemask_epi8(hit)) return i + (size_t)__builtin_ctz((unsigned)mask);
  }
#endif
  while (i < f.size() && f[i] != d.delimiter && f[i] != '\n' && f[i] != '\r' && f[i] != quote) i++;
  return i;
}

bool line_break(char c) { return c == '\n' || c == '\r'; }

}  // namespace

CsvReader::CsvReader(std::FILE *in, Dialect dialect, size_t max_record_bytes)
    : in_(in), dialect_(dialect), max_record_(max_record_bytes) {}

CsvReader::Step CsvReader::fail(int64_t line, const std::string &message) {
  if (error_.empty()) error_ = "line " + std::to_string(line) + ": " + message;
  return Step::Bad;
}

// A field in double quotes, from its opening quote to just after its closing
// one; a doubled quote inside stands for one.
CsvReader::Step CsvReader::quoted(const char *&p, const char *e, Fields &out) {
  p++;
  for (;;) {
    const char *q = static_cast<const char *>(std::memchr(p, '"', (size_t)(e - p)));
    if (!q) return at_eof_ ? fail(line_, "a quoted field is not closed before the end of the input") : Step::More;
    newlines_ += count_newlines(p, q);
    out.bytes.append(p, q);
    p = q + 1;
    if (p == e && !at_eof_) return Step::More;  // a doubled quote may follow
    if (p == e || *p != '"') break;
    out.bytes.push_back('"');
    p++;
  }
  if (p < e && *p != dialect_.delimiter && !line_break(*p))
    return fail(line_ + newlines_, "malformed field: text after its closing quote");
  return Step::Record;
}

// A field without quotes, up to the delimiter or the line break; TSV escapes
// are decoded.
CsvReader::Step CsvReader::plain(const char *&p, const char *e, Fields &out) {
  const char d = dialect_.delimiter, special = dialect_.tsv ? '\\' : '"';
  for (;;) {
    const char *q = p;
    while (q < e && *q != d && *q != '\n' && *q != '\r' && *q != special) q++;
    out.bytes.append(p, q);
    p = q;
    if (p == e) return at_eof_ ? Step::Record : Step::More;
    if (*p != special) return Step::Record;
    if (!dialect_.tsv) return fail(line_ + newlines_, "malformed field: a quote inside a field that does not begin with one");
    if (p + 1 == e && !at_eof_) return Step::More;
    const char c = p + 1 < e ? p[1] : '\0';
    const char decoded = c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c == '\\' ? '\\' : '\0';
    out.bytes.push_back(decoded ? decoded : '\\');  // any other backslash stands for itself
    p += decoded ? 2 : 1;
  }
}

// One record from the unparsed bytes; More when they end before it does.
CsvReader::Step CsvReader::parse(Fields &out, size_t &count) {
  const char *p = buf_.data() + pos_, *const e = buf_.data() + end_;
  while (p < e && line_break(*p)) line_ += *p++ == '\n';  // blank lines
  pos_ = (size_t)(p - buf_.data());
  if (p == e) return at_eof_ ? Step::End : Step::More;
  const size_t bytes_before = out.bytes.size(), fields_before = out.ends.size();
  newlines_ = 0;
  count = 0;
  for (;;) {
    const Step s = !dialect_.tsv && p < e && *p == '"' ? quoted(p, e, out) : plain(p, e, out);
    if (s == Step::More) {
      out.bytes.resize(bytes_before);
      out.ends.resize(fields_before);
    }
    if (s != Step::Record) return s;
    out.ends.push_back(out.bytes.size());
    if (++count > kMaxFields) return fail(line_, "a record of more than " + std::to_string(kMaxFields) + " fields");
    if (p == e) break;  // the end of the input ends the record
    if (*p++ == dialect_.delimiter) continue;
    if (p[-1] == '\n') newlines_++;
    else if (p < e && *p == '\n') newlines_++, p++;  // \r\n (a \n in the next chunk is a blank line)
    break;
  }
  record_line_ = line_;
  line_ += newlines_;
  pos_ = (size_t)(p - buf_.data());
  return Step::Record;
}

// Keeps the unparsed bytes and reads more after them; false on a read error.
bool CsvReader::refill() {
  if (pos_ > 0) {
    std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  if (buf_.size() < kChunk) buf_.resize(buf_.empty() ? 4096 : 2 * buf_.size());  // small inputs stay cheap
  if (buf_.size() - end_ < buf_.size() / 2) buf_.resize(2 * buf_.size());         // room for a long record
  const size_t n = std::fread(buf_.data() + end_, 1, buf_.size() - end_, in_);
  if (n == 0) {
    if (std::ferror(in_)) return fail(line_, std::string("cannot read the input: ") + std::strerror(errno)), false;
    at_eof_ = true;
    return true;
  }
  bytes_ += n;
  if (first_read_ && n >= 3 && std::memcmp(buf_.data(), "\xEF\xBB\xBF", 3) == 0) pos_ = 3;
  first_read_ = false;
  end_ += n;
  return true;
}

size_t CsvReader::next(Fields &out) {
  while (error_.empty()) {
    size_t count = 0;
    const Step s = pos_ == end_ && !at_eof_ ? Step::More : parse(out, count);
    if (s == Step::Record) return count;
    if (s == Step::Bad || s == Step::End) return 0;
    if (end_ - pos_ > max_record_)
      fail(line_, "a record longer than " + std::to_string(max_record_ >> 20) + " MiB (is a quote left open?)");
    else refill();
  }
  return 0;
}

bool CsvReader::next(Record &out) {
  Fields f;
  const size_t n = next(f);
  out.clear();
  for (size_t i = 0; i < n; i++) out.emplace_back(f[i]);
  return n > 0;
}

void append_field(std::string &line, std::string_view field, const Dialect &dialect) {
  size_t at = first_special(field, dialect);
  if (at == field.size()) return (void)line.append(field);
  if (!dialect.tsv) {  // quoted, a quote doubled
    line.push_back('"');
    for (size_t from = 0;; from = at + 1) {
      at = field.find('"', from);
      line.append(field.substr(from, at - from));
      if (at == std::string_view::npos) break;
      line.append("\"\"");
    }
    line.push_back('"');
    return;
  }
  line.append(field.substr(0, at));
  while (at < field.size()) {  // TSV: each special byte escaped
    const char c = field[at++];
    line.push_back('\\');
    line.push_back(c == '\n' ? 'n' : c == '\r' ? 'r' : c == '\\' ? '\\' : 't');
    const size_t n = first_special(field.substr(at), dialect);
    line.append(field.substr(at, n));
    at += n;
  }
}

void append_record(std::string &line, const Record &fields, const Dialect &dialect) {
  for (size_t i = 0; i < fields.size(); i++) {
    if (i) line.push_back(dialect.delimiter);
    append_field(line, fields[i], dialect);
  }
  line.push_back('\n');
}

}  // namespace zeqtool
