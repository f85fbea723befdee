// charfn/concat/catq.cc - CATQ: a separated list whose items are quoted
// where they need it, so that the list can be read back.
//
// fnccatq(FncArgList*, FncString*): argument 1 holds modifier letters
// (case-blind through the host's upper-case table), the items follow (from
// argument 3 when D takes argument 2 as the separator).
//
// Modifiers: 1 or ' quote with apostrophes, 2 or " with double quotes;
// A quote every item; B quote items that begin or end with a blank; C comma
// separator; D argument 2 is the separator (first D only); H tab separator;
// M keep empty items; N trim trailing blanks and write items that are not
// valid names as name literals ('...'n); Q quote items holding a quote
// character; S trim leading and trailing blanks; T trim trailing blanks;
// X write items holding a byte of class bit 0x40 as hexadecimal literals
// ('...'x).  A blank is ignored; any other byte is reported with message 6
// and skipped.
//
// Unlike the other concatenation functions CATQ does not size a growable
// result: it fills the room the result has.  Quoted, name and hexadecimal
// items are written whole or not at all; plain items may be cut.  Returns
// FNC_RC_OK or FNC_RC_NOTE (short result, message 28, first cut item marked).
#include <cstring>

#include "charfn/concat/items.h"
#include "charfn/entries.h"
#include "core/frame.h"

namespace {

using zeq::cat::ItemText;
using zeq::cat::sat_add;
using zeq::cat::Trim;

// 1 for every byte that cannot appear in a name: all but 0-9, A-Z, a-z, _.
struct InvalidTable {
  uint8_t v[256];
  constexpr InvalidTable() : v{} {
    for (int c = 0; c < 256; ++c) {
      const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                      (c >= 'a' && c <= 'z') || c == '_';
      v[c] = ok ? 0 : 1;
    }
  }
};
constexpr InvalidTable kInvalid;

struct Options {
  char quote = 0;            // chosen quote character, 0 when chosen per item
  bool A = false, B = false, M = false, N = false, Q = false, S = false, T = false, X = false;
  const char *sep = " ";     // separator written between items
  int64_t sep_length = 1;
  const char *probe = " ";   // what an item must hold to need quoting
  int64_t probe_length = 1;
  char probe_byte = ' ';     // storage for a one-byte probe
  bool has_d = false;        // D seen: items start at argument 3
  const char *d_sep = nullptr;
  int64_t d_sep_length = 0;
  const char *d_probe = nullptr;
  int64_t d_probe_length = 0;
  char d_probe_byte = ' ';
};

void set_single_separator(Options &o, const char *text) {
  o.sep = text;
  o.sep_length = 1;
  o.probe_byte = text[0];
  o.probe = &o.probe_byte;
  o.probe_length = 1;
}

void use_d_separator(Options &o) {
  o.sep = o.d_sep;
  o.sep_length = o.d_sep_length;
  if (o.d_probe == &o.d_probe_byte) {
    o.probe_byte = o.d_probe_byte;
    o.probe = &o.probe_byte;
  } else {
    o.probe = o.d_probe;
  }
  o.probe_length = o.d_probe_length;
}

// The first D takes argument 2 as the separator, trimmed as the T, N or S
// letters read so far ask; its probe is the separator without leading and
// trailing blanks.  An all-blank separator probes as the one-byte separator
// in force before the D; an empty one probes as nothing.
void take_d_separator(Options &o, FncArgList *args) {
  o.has_d = true;
  const FncString *s = zeq::str_value(zeq::arg(args, 1));
  const char *data = (s && s->data && s->length > 0) ? s->data : nullptr;
  int64_t len = data ? s->length : 0;
  if (o.S || o.T || o.N) len = zeq::cat::trailing_trim(data, len);
  if (o.S) {
    const int64_t lead = zeq::cat::leading_blanks(data, len);
    data += lead;
    len -= lead;
  }
  o.d_sep = data;
  o.d_sep_length = len;
  if (len == 0) {
    o.d_probe = nullptr;
    o.d_probe_length = 0;
    return;
  }
  const int64_t stripped = zeq::cat::trailing_trim(data, len);
  const int64_t lead = zeq::cat::leading_blanks(data, stripped);
  if (stripped - lead <= 0) {
    o.d_probe_byte = o.probe_length > 0 ? o.probe[0] : ' ';
    o.d_probe = &o.d_probe_byte;
    o.d_probe_length = 1;
  } else {
    o.d_probe = data + lead;
    o.d_probe_length = stripped - lead;
  }
}

void read_modifiers(Options &o, FncArgList *args) {
  const FncString *m = zeq::str_value(zeq::arg(args, 0));
  if (!m || !m->data || m->length <= 0) return;
  const uint8_t *up = zeq::upcase_table();
  for (int64_t i = 0; i < m->length; ++i) {
    const uint8_t c = up[static_cast<uint8_t>(m->data[i])];
    switch (c) {
      case ' ': break;
      case '1': case '\'': o.quote = '\''; break;
      case '2': case '"': o.quote = '"'; break;
      case 'A': o.A = true; break;
      case 'B': o.B = true; break;
      case 'C': set_single_separator(o, ","); break;
      case 'D':
        if (!o.has_d) take_d_separator(o, args);
        use_d_separator(o);
        break;
      case 'H': set_single_separator(o, "\t"); break;
      case 'M': o.M = true; break;
      case 'N': o.N = true; break;
      case 'Q': o.Q = true; break;
      case 'S': o.S = true; break;
      case 'T': o.T = true; break;
      case 'X': o.X = true; break;
      default: printBadmodLog("CATQ", c); break;
    }
  }
}

enum class Form { Plain, Quoted, Name, Hex };

bool holds_separator(const Options &o, const char *data, int64_t len) {
  if (o.probe_length <= 0 || len < o.probe_length) return false;
  const char first = o.probe[0];
  for (int64_t i = 0; i + o.probe_length <= len; ++i) {
    if (data[i] != first) continue;
    if (o.probe_length == 1 || std::memcmp(data + i, o.probe, static_cast<size_t>(o.probe_length)) == 0)
      return true;
  }
  return false;
}

Form choose_form(const Options &o, const char *data, int64_t len) {
  const uint8_t *cls = zeq::class_table();
  const auto *u = reinterpret_cast<const uint8_t *>(data);
  if (o.X) {
    bool hex = o.A;
    for (int64_t i = 0; !hex && i < len; ++i) hex = (cls[u[i]] & 0x40) != 0;
    if (hex) return Form::Hex;
  }
  if (o.N) {
    bool lit = o.A || (len > 0 && (cls[u[0]] & ZEQ_CLASS_DIGIT));
    for (int64_t i = 0; !lit && i < len; ++i) lit = kInvalid.v[u[i]] != 0;
    if (lit) return Form::Name;
  }
  if (o.A) return Form::Quoted;
  if (o.B && len > 0 && (data[0] == ' ' || data[len - 1] == ' ')) return Form::Quoted;
  if (o.Q) {
    for (int64_t i = 0; i < len; ++i)
      if (data[i] == '\'' || data[i] == '"') return Form::Quoted;
  }
  if (holds_separator(o, data, len)) return Form::Quoted;
  return Form::Plain;
}

// The quote of a quoted or name item when none was chosen: the apostrophe
// when the text holds % or & (which a double-quoted literal would let the
// host resolve) or fewer apostrophes than double quotes, else the double
// quote.
char item_quote(const char *data, int64_t len, int64_t *apostrophes, int64_t *doubles) {
  int64_t a = 0, d = 0;
  bool special = false;
  for (int64_t i = 0; i < len; ++i) {
    const char c = data[i];
    if (c == '\'') ++a;
    else if (c == '"') ++d;
    else if (c == '%' || c == '&') special = true;
  }
  *apostrophes = a;
  *doubles = d;
  return (special || a < d) ? '\'' : '"';
}

// Hexadecimal digits of `len` bytes through the host formatter, in pieces
// whose digit count fits its 32-bit arguments.
void write_hex(const char *data, int64_t len, char *dest) {
  constexpr int64_t kPiece = int64_t{1} << 28;
  while (len > 0) {
    const int64_t n = len < kPiece ? len : kPiece;
    wzfmhc(data, static_cast<int>(n), static_cast<int>(2 * n), 1, dest);
    data += n;
    dest += 2 * n;
    len -= n;
  }
}

}  // namespace

ZEQ_EXPORT int32_t fnccatq(FncArgList *args, FncString *result) noexcept {
  if (!args || !result) return FNC_RC_NOTE;
  Options o;
  read_modifiers(o, args);

  const int64_t room = zeq::cat::usable_room(result);
  char *out = result->data;
  int64_t written = 0, needed = 0;
  bool first = true, cut = false;
  const Trim trim = o.S ? Trim::Both : (o.T || o.N) ? Trim::Trailing : Trim::None;

  for (int i = o.has_d ? 2 : 1; i < args->argCount; ++i) {
    FncArg *g = &args->args[i];
    ItemText t;
    zeq::cat::item_text(args, g, trim, &t);
    const char *data = t.data;
    const int64_t len = t.length;

    const Form form = choose_form(o, data, len);
    if (form == Form::Plain && len == 0 && !o.M) continue;

    if (!first) {
      needed = sat_add(needed, o.sep_length);
      if (needed <= room && o.sep_length > 0) {
        std::memmove(out + written, o.sep, static_cast<size_t>(o.sep_length));
        written += o.sep_length;
      }
    }
    first = false;

    if (form == Form::Plain) {
      if (len == 0) continue;
      int64_t take = len;
      if (sat_add(needed, len) > room) {
        take = room > needed ? room - needed : 0;
        if (!cut) {
          cut = true;
          zeq::mark_bad(g);
        }
      }
      if (take > 0) std::memmove(out + written, data, static_cast<size_t>(take));  // the item may be the result itself
      written += take;
      needed = sat_add(needed, len);
      continue;
    }

    // Quoted, name and hexadecimal items: whole or nothing.
    char q;
    int64_t size;
    int64_t apostrophes = 0, doubles = 0;
    if (form == Form::Hex) {
      q = o.quote ? o.quote : '\'';
      size = len > (INT64_MAX - 3) / 2 ? INT64_MAX : 2 * len + 3;
    } else {
      const char chosen = item_quote(data, len, &apostrophes, &doubles);
      q = o.quote ? o.quote : chosen;
      size = sat_add(sat_add(len, 2), q == '\'' ? apostrophes : doubles);
      if (form == Form::Name) size = sat_add(size, 1);
    }
    if (size > room - needed) {
      needed = sat_add(needed, size);
      if (!cut) {
        cut = true;
        zeq::mark_bad(g);
      }
      continue;
    }
    char *p = out + written;
    *p++ = q;
    if (form == Form::Hex) {
      write_hex(data, len, p);
      p += 2 * len;
      *p++ = q;
      *p++ = 'x';
    } else {
      // The body never runs past its counted size: an item may share its
      // bytes with the result (the host passed the item's own record as the
      // result), and then the quotes already written are read back as input.
      char *const body_end = out + written + size - (form == Form::Name ? 2 : 1);
      for (int64_t k = 0; k < len && p < body_end; ++k) {
        const char c = data[k];
        if (c == q) *p++ = q;
        if (p < body_end) *p++ = c;
      }
      *p++ = q;
      if (form == Form::Name) *p++ = 'n';
    }
    written += size;
    needed = sat_add(needed, size);
  }

  result->length = written;
  return zeq::short_result_note(args, "CATQ", needed, room, false);
}
