// host/journal.cc - the host's log: the journal (logger object), the message
// catalogue, and the formatter shared by journal formats and xpslog.
//
// Every line is kept as a LogEntry and rendered the way a user reads it: a
// level word ("NOTE: ", "WARNING: ", "ERROR: ", "INFO: "; none at level 0)
// and the text.  Level words by level: 0 none, 1 INFO, 2 NOTE, 3 WARNING,
// 4 and above ERROR.
//
// Catalogue set 744 (xpmlog): each number has a level word, an argument list
// and a text with {n} insertions.  Arguments are pulled from the variable
// list as the host interface fixes them: a text is a NUL-terminated char*; a
// text that is not terminated comes as its length (i64) followed by its
// address; an integer is an i64; a character is an int.  Argument letters:
//   s  text (either form)
//   S  text whose length is the integer just before it (either form)
//   d  integer (i64)
//   c  character (int)
// A text argument is read through safe_cstr/safe_read, so a wrong argument
// renders as "?" instead of crashing the host.
//
// Statuses (journal status operations) have catalogue texts that are TKChar
// printf formats taking the status's arguments (random engine: Part of the
// interface in zeq/host.h and host/host.h).
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "host/internal.h"

namespace zeqhost {

std::string level_word(int level) {
  switch (level) {
    case 0: return "";
    case 1: return "INFO: ";
    case 2: return "NOTE: ";
    case 3: return "WARNING: ";
    default: return level < 0 ? "" : "ERROR: ";
  }
}

// ---------------------------------------------------------------------------
// printf formatter.
// ---------------------------------------------------------------------------
namespace {

// Pads a UTF-8 text of `chars` characters to a width.
void pad(std::string &out, const std::string &text, size_t chars, int width, bool left) {
  size_t fill = width > 0 && (size_t)width > chars ? (size_t)width - chars : 0;
  if (!left) out.append(fill, ' ');
  out += text;
  if (left) out.append(fill, ' ');
}

size_t utf8_chars(const std::string &s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) n++;
  return n;
}

std::string tk_string(const TKChar *p, int precision) {
  if (!p) return "(null)";
  std::string out;
  size_t limit = precision >= 0 ? (size_t)precision : (size_t)1 << 20;
  TKChar buf[64];
  for (size_t i = 0; i < limit;) {
    size_t want = std::min<size_t>(64, limit - i);
    size_t got = safe_read(buf, p + i, want * 4) / 4;
    if (!got) return out.empty() && i == 0 ? "?" : out;
    for (size_t k = 0; k < got; k++) {
      if (!buf[k]) return out;
      append_utf8(out, buf[k]);
    }
    i += got;
    if (got < want) break;
  }
  return out;
}

std::string byte_string(const char *p, int precision) {
  if (!p) return "(null)";
  std::string raw;
  if (precision >= 0) {
    std::string tmp((size_t)precision, '\0');
    size_t got = safe_read(tmp.data(), p, (size_t)precision);
    tmp.resize(got);
    size_t nul = tmp.find('\0');
    raw = nul == std::string::npos ? tmp : tmp.substr(0, nul);
    if (!got && precision > 0) return "?";
  } else if (!safe_cstr(p, 1 << 20, raw)) {
    return "?";
  }
  return bytes_to_utf8(raw.data(), raw.size());
}

}  // namespace

std::string format_printf(const std::u32string &f, bool wide, va_list ap_in,
                          std::vector<std::string> *args) {
  va_list ap;
  va_copy(ap, ap_in);
  std::string out;
  size_t i = 0, n = f.size();
  while (i < n) {
    char32_t ch = f[i++];
    if (ch != U'%') {
      append_utf8(out, (uint32_t)ch);
      continue;
    }
    if (i >= n) {
      out += '%';
      break;
    }
    if (f[i] == U'%') {
      out += '%';
      i++;
      continue;
    }
    // flags
    std::string flags;
    while (i < n && (f[i] == U'-' || f[i] == U'+' || f[i] == U' ' || f[i] == U'#' || f[i] == U'0'))
      flags += (char)f[i++];
    bool left = flags.find('-') != std::string::npos;
    int width = -1;
    if (i < n && f[i] == U'*') {
      width = va_arg(ap, int);
      if (width < 0) {
        left = true;
        flags += '-';
        width = -width;
      }
      i++;
    } else {
      while (i < n && f[i] >= U'0' && f[i] <= U'9') width = (width < 0 ? 0 : width * 10) + (int)(f[i++] - U'0');
    }
    int precision = -1;
    if (i < n && f[i] == U'.') {
      i++;
      precision = 0;
      if (i < n && f[i] == U'*') {
        precision = va_arg(ap, int);
        i++;
      } else {
        while (i < n && f[i] >= U'0' && f[i] <= U'9') precision = precision * 10 + (int)(f[i++] - U'0');
      }
    }
    std::string len;
    while (i < n && (f[i] == U'h' || f[i] == U'l' || f[i] == U'L' || f[i] == U'q' || f[i] == U'j' ||
                     f[i] == U'z' || f[i] == U't'))
      len += (char)f[i++];
    if (i >= n) break;
    char32_t conv = f[i++];
    std::string piece;
    size_t piece_chars = 0;
    bool text_piece = false;
    char spec[64];
    auto numeric_spec = [&](const char *lenmod, char c) {
      std::snprintf(spec, sizeof spec, "%%%s%s%s%s%s%c", flags.c_str(),
                    width >= 0 ? std::to_string(width).c_str() : "",
                    precision >= 0 ? "." : "", precision >= 0 ? std::to_string(precision).c_str() : "",
                    lenmod, c);
    };
    char buf[512];
    switch (conv) {
      case U'd': case U'i': case U'u': case U'o': case U'x': case U'X': {
        bool is_long = len == "l" || len == "ll" || len == "q" || len == "j" || len == "z" || len == "t" ||
                       len == "L";
        numeric_spec("ll", (char)conv);
        long long v;
        if (is_long) {
          v = va_arg(ap, long long);
        } else {
          int x = va_arg(ap, int);
          bool is_signed = conv == U'd' || conv == U'i';
          if (len == "hh") v = is_signed ? (long long)(signed char)x : (long long)(unsigned char)x;
          else if (len == "h") v = is_signed ? (long long)(short)x : (long long)(unsigned short)x;
          else v = is_signed ? (long long)x : (long long)(unsigned)x;
        }
        std::snprintf(buf, sizeof buf, spec, v);
        piece = buf;
        break;
      }
      case U'e': case U'E': case U'f': case U'F': case U'g': case U'G': case U'a': case U'A': {
        numeric_spec("", (char)conv);
        double v = len == "L" ? (double)va_arg(ap, long double) : va_arg(ap, double);
        std::snprintf(buf, sizeof buf, spec, v);
        piece = buf;
        break;
      }
      case U'p': {
        void *v = va_arg(ap, void *);
        std::snprintf(buf, sizeof buf, "%p", v);
        piece = buf;
        break;
      }
      case U'c': case U'C': {
        int v = va_arg(ap, int);
        bool byte = wide ? len == "h" : len != "l";
        if (conv == U'C') byte = false;
        append_utf8(piece, byte ? (uint32_t)(unsigned char)v : (uint32_t)v);
        text_piece = true;
        break;
      }
      case U's': case U'S': {
        bool tk = wide ? !(len == "h" && conv == U's') : (len == "l" || conv == U'S');
        if (tk) piece = tk_string(va_arg(ap, const TKChar *), precision);
        else piece = byte_string(va_arg(ap, const char *), precision);
        text_piece = true;
        break;
      }
      case U'n':
        (void)va_arg(ap, void *);  // never written through
        continue;
      default:  // unknown conversion: shown as written
        out += '%';
        append_utf8(out, (uint32_t)conv);
        continue;
    }
    if (args) args->push_back(piece);
    if (text_piece) {
      piece_chars = utf8_chars(piece);
      pad(out, piece, piece_chars, width, left);
    } else {
      out += piece;
    }
  }
  va_end(ap);
  return out;
}

// ---------------------------------------------------------------------------
// Catalogue.
// ---------------------------------------------------------------------------
namespace {

struct CatalogueMessage {
  int number;
  int level;
  const char *args;
  const char *text;
};

// Set 744: the module's own messages.
const CatalogueMessage kSet744[] = {
    {1, 4, "d", "Argument {1} to function COMPCOST is numeric, but an operation name was expected."},
    {2, 4, "ds", "Argument {1} to function COMPCOST is the character value \"{2}\", but a cost was expected."},
    {3, 4, "ddd", "Argument {1} to function COMPCOST must be a whole number from {2} to {3}."},
    {6, 2, "sc", "Invalid modifier \"{2}\" in function {1}. The modifier was ignored."},
    {7, 2, "sd", "Invalid argument {2} to function {1}. The pattern is too long: at most 63 positions can be searched."},
    {8, 2, "sd", "Invalid argument to function {1}. The length {2} is longer than the target; the result was truncated."},
    {9, 4, "sd", "Function {1} takes pairs of an operation and a cost, but {2} arguments were given."},
    {27, 2, "sdd", "Invalid argument to function {1}. The target was truncated: {2} bytes were needed, {3} were available."},
    {28, 2, "sdd", "Invalid argument to function {1}. The result was truncated: {2} bytes were needed, {3} were available."},
    {29, 2, "s", "Further truncation notes of function {1} at this call are not shown."},
    {32, 2, "sd", "Argument {2} to function {1} has no value."},
    {33, 4, "sd", "Argument {2} to function {1} is empty, but an operation name was expected."},
    {34, 4, "sd", "Argument {2} to function {1} is blank, but an operation name was expected."},
    {39, 4, "d", "Argument {1} to function COMPCOST does not name an operation."},
    {40, 2, "", "Invalid argument to the name-literal function. The text is blank; the result is empty."},
    {41, 2, "ddS", "Invalid argument to the name-literal function. The result holds {1} bytes, too few for the name literal of the {2}-byte text \"{3}\"; the result is empty."},
    {80, 2, "cd", "Invalid delimiter list of {2} bytes. Quote characters cannot be delimiters; only {1} and the other quote character protect quoted words."},
};

const CatalogueMessage *find744(int number) {
  for (const auto &m : kSet744)
    if (m.number == number) return &m;
  return nullptr;
}

// Statuses: TKChar printf formats over the status's arguments.
struct StatusText {
  uint32_t status;
  const char *format;
};

const StatusText kStatuses[] = {
    // Random engine: stream statuses.
    {0x8C7FE80A, "The random-number stream has not been initialized."},
    {0x8C7FE80B, "The random-number method is not known; MTHYBRID is used."},
    {0x8C7FE80C, "The random-number method needs the processor's hardware random-number instruction, which is not available; MTHYBRID is used."},
    {0x8C7FE80D, "A seed was given to a random-number method that takes none."},
    {0x8C7FE80E, "The random-number stream could not be initialized."},
    {0x8C7FE80F, "A key was given to a random-number method that takes none."},
    {0x8C7FE810, "A random-number key is out of range."},
    // Random engine: messages (arguments as the engine passes them).
    {0x8C7FE817, "The random-number method %S takes no seed; the seed %.17g was ignored."},
    {0x8C7FE818, "The seed must be a whole number from 1 to %llu for the random-number method %S; the seed %llu (0x%llX) is used for the requested %.17g."},
    {0x8C7FE819, "The seed %2$.17g could not be mapped into 1 to %1$llu: it gave %3$.17g."},
    {0x8C7FE81A, "The random-number method %S takes no key; the key %.17g was ignored."},
    {0x8C7FE81B, "The key must be a whole number from 0 to %llu for the random-number method %S; %.17g is not valid."},
    {0x8C7FE81C, "The key %llu is larger than %llu, the largest key of the random-number method %S."},
    {0x8C7FE828, "The random-number method is %hs."},
    {0x8C7FE829, "The random-number method is %hs with seed %llu (0x%llX)."},
    {0x8C7FE82A, "The random-number method is %hs with seed %llu (0x%llX) and key %llu (0x%llX)."},
    {0x8C7FE851, "Random-number method: %hs."},
    {0x8C7FE852, "The state of the random-number method %hs takes %lli bytes."},
    // Settings.
    {0x8C7FE8C8, "The value '%.*S' of the setting %.*S is not an integer from -9007199254740992 to 9007199254740992."},
    {0x8C7FE8C9, "The value '%.*S' of the setting %.*S is not one of the accepted words; the value was erased."},
    {0x8C7FE8CA, "The limit set by %.*S has been reached; further messages of this kind are not shown."},
    // Kernel and module statuses.
    {0x803FC002, "The random-number stream is missing."},
    {0x803FC004, "The operation is not supported."},
    {0x803FC009, "The setting holds a text, not a number."},
    {0x803FC264, "The setting holds a value of another type."},
    {0x803FC26A, "The setting has no value."},
    {0x803FE807, "The buffer is too small for the converted text."},
    {0x80000803, "Out of memory."},
    {0x8001D811, "The result buffer could not be enlarged."},
    {(uint32_t)kStatusNoOption, "The option is not known."},
    {(uint32_t)kStatusJournalFailed, "The journal could not be written."},
    {(uint32_t)kStatusBadRequest, "The host service could not serve the request."},
};

}  // namespace

std::u32string status_format(int32_t status) {
  for (const auto &s : kStatuses)
    if (s.status == (uint32_t)status) return u32_of_utf8(s.format);
  return U"";
}

std::string catalogue_template(int set, int number) {
  if (set == FNC_MSG_SET) {
    const CatalogueMessage *m = find744(number);
    return m ? m->text : "";
  }
  return utf8_of(status_format(number));
}

// Renders message `number` of set 744 from the argument list.
std::string render_catalogue(int number, va_list ap_in, std::vector<std::string> *args,
                             std::string *word) {
  const CatalogueMessage *m = find744(number);
  va_list ap;
  va_copy(ap, ap_in);
  std::vector<std::string> vals;
  int64_t last_int = -1;
  if (m) {
    for (const char *a = m->args; *a; a++) {
      switch (*a) {
        case 'd': {
          int64_t v = va_arg(ap, int64_t);
          last_int = v;
          vals.push_back(std::to_string(v));
          break;
        }
        case 'c': {
          // A byte (possibly sign-extended from a char) or a code point.
          int v = va_arg(ap, int);
          uint32_t c = v < 0 && v >= -128 ? (uint32_t)(unsigned char)v : (uint32_t)v;
          std::string s;
          append_utf8(s, c);
          vals.push_back(s);
          break;
        }
        case 's':
        case 'S': {
          uint64_t w = va_arg(ap, uint64_t);
          std::string text;
          bool ok;
          if (plausible_pointer(w)) {
            // An address: terminated, or bounded by the length just before it.
            if (*a == 'S' && last_int >= 0 && last_int <= (1 << 20)) {
              std::string tmp((size_t)last_int, '\0');
              size_t got = safe_read(tmp.data(), (const void *)(uintptr_t)w, tmp.size());
              tmp.resize(got);
              text = tmp;
              ok = got == (size_t)last_int;
            } else {
              ok = safe_cstr((const char *)(uintptr_t)w, 1 << 16, text);
            }
          } else {
            // A length followed by the address of a text that is not terminated.
            int64_t len = (int64_t)w;
            uint64_t p = va_arg(ap, uint64_t);
            ok = len >= 0 && len <= (1 << 20) && (len == 0 || plausible_pointer(p));
            if (ok && len > 0) {
              text.resize((size_t)len);
              size_t got = safe_read(text.data(), (const void *)(uintptr_t)p, (size_t)len);
              ok = got == (size_t)len;
            }
          }
          vals.push_back(ok ? bytes_to_utf8(text.data(), text.size()) : "?");
          break;
        }
      }
    }
  }
  va_end(ap);
  if (args) *args = vals;
  if (!m) {
    if (word) *word = "NOTE";
    return "Message " + std::to_string(number) + " of set 744.";
  }
  if (word) {
    *word = level_word(m->level);
    if (word->size() >= 2) word->resize(word->size() - 2);  // without ": "
  }
  std::string out;
  for (const char *t = m->text; *t; t++) {
    if (t[0] == '{' && t[1] >= '1' && t[1] <= '9' && t[2] == '}') {
      size_t k = (size_t)(t[1] - '1');
      out += k < vals.size() ? vals[k] : "?";
      t += 2;
    } else {
      out += *t;
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// Logger object.
// ---------------------------------------------------------------------------
namespace {

std::u32string tk_format(const TKChar *format) {
  std::u32string f;
  if (!format) return f;
  TKChar buf[64];
  for (size_t i = 0; i < (1u << 16);) {
    size_t got = safe_read(buf, format + i, sizeof buf) / 4;
    if (!got) break;
    for (size_t k = 0; k < got; k++) {
      if (!buf[k]) return f;
      f += (char32_t)buf[k];
    }
    i += got;
    if (got < 64) break;
  }
  return f;
}

// Positional conversions (%2$...) appear only in catalogue texts whose
// arguments are all numbers of known type; they are rewritten here in
// argument order so that the common formatter can render them.
std::string render_status(int32_t status, va_list ap, std::vector<std::string> *args) {
  std::u32string f = status_format(status);
  if (f.empty()) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "Status 0x%08X.", (unsigned)status);
    return buf;
  }
  if (f.find(U'$') != std::u32string::npos) {
    // 0x8C7FE819: limit (i64), the double, the mapped value (double).
    va_list c;
    va_copy(c, ap);
    unsigned long long limit = va_arg(c, unsigned long long);
    double d = va_arg(c, double), r = va_arg(c, double);
    va_end(c);
    char buf[256];
    std::snprintf(buf, sizeof buf, "The seed %.17g could not be mapped into 1 to %llu: it gave %.17g.", d,
                  limit, r);
    if (args) *args = {std::to_string(limit), std::to_string(d), std::to_string(r)};
    return buf;
  }
  return format_printf(f, true, ap, args);
}

void write_buffer(TKChar *buf, int64_t room, const std::string &text) {
  if (!buf || room <= 0) return;
  std::u32string u = u32_of_utf8(text);
  int64_t n = std::min<int64_t>((int64_t)u.size(), room - 1);
  for (int64_t i = 0; i < n; i++) buf[i] = (TKChar)u[(size_t)i];
  buf[n] = 0;
}

int32_t lg_message_to_buf(ZeqLogger *, TKChar *buf, int64_t room, const TKChar *format, va_list ap) {
  write_buffer(buf, room, format_printf(tk_format(format), true, ap, nullptr));
  return 0;
}

int32_t lg_status_to_buf(ZeqLogger *, TKChar *buf, int64_t room, int32_t status, va_list ap) {
  write_buffer(buf, room, render_status(status, ap, nullptr));
  return 0;
}

int32_t lg_message_to_jnl(ZeqLogger *, int32_t level, const TKChar *format, va_list ap) {
  if (!g_state) return kStatusJournalFailed;
  LogEntry e;
  e.kind = LogEntry::JournalMessage;
  e.level = level;
  std::string body = format_printf(tk_format(format), true, ap, &e.args);
  e.text = level_word(level) + body;
  g_state->add_log(std::move(e));
  return g_state->journal_fails ? kStatusJournalFailed : 0;
}

int32_t lg_status_to_jnl(ZeqLogger *, int32_t level, int32_t status, va_list ap) {
  if (!g_state) return kStatusJournalFailed;
  LogEntry e;
  e.kind = LogEntry::JournalStatus;
  e.level = level;
  e.number = status;
  std::string body = render_status(status, ap, &e.args);
  e.text = level_word(level) + body;
  g_state->add_log(std::move(e));
  return g_state->journal_fails ? kStatusJournalFailed : 0;
}

void *lg_get_locale(ZeqLogger *) { return g_state ? &g_state->locale : nullptr; }

}  // namespace

void build_journal(HostState &h) {
  h.logger.message_to_buf = lg_message_to_buf;
  h.logger.message_to_jnl = lg_message_to_jnl;
  h.logger.status_to_buf = lg_status_to_buf;
  h.logger.status_to_jnl = lg_status_to_jnl;
  h.logger.get_locale = lg_get_locale;
  h.kernel.journal = h.options.journal ? &h.logger : nullptr;
}

namespace {
thread_local std::vector<LogEntry> *t_capture = nullptr;
}  // namespace

LogCapture::LogCapture(std::vector<LogEntry> &sink) : outer_(t_capture) { t_capture = &sink; }
LogCapture::~LogCapture() { t_capture = outer_; }

void HostState::add_log(LogEntry e) {
  if (t_capture) t_capture->push_back(e);
  if (!options.keep_log) return;
  std::lock_guard<std::mutex> lock(log_mu);
  log.push_back(std::move(e));
}

}  // namespace zeqhost
