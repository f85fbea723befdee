// host/tables.cc - the session's byte tables (Latin-1, or ASCII in UTF-8)
// (control block offsets 0x30 upper-case, 0x38 lower-case, 0x40 classes).
//
// The tables are derived once from ICU's character properties of U+0000 to
// U+00FF, so that they agree with the string service (text.cc) wherever a
// byte class and a Unicode class mean the same thing.  Class bits
// (zeq/abi.h ZEQ_CLASS_*):
//   0x01 upper case   Uppercase property: A-Z, C0-D6, D8-DE
//   0x02 lower case   Lowercase property: a-z, AA, B5, BA, DF-F6, F8-FF
//   0x04 digit        0-9 only (the superscripts are not decimal digits)
//   0x08 white space  White_Space property: 09-0D, 20, 85, A0
//   0x10 punctuation  every other graphic byte: ASCII punctuation and
//                     symbols, A1-BF except AA B5 BA, D7, F7 (the soft
//                     hyphen AD included, as Latin-1 prints it)
//   0x20 printable    space separators: 20, A0 (turns graphic into printable)
//   0x40 control      C0 and C1 controls and DEL: 00-1F, 7F-9F
//   0x80 hex digit    0-9, A-F, a-f
// Bit 0x40 is the class that makes CATQ's X modifier write an item as a
// hexadecimal literal: the items that hold a control byte are exactly those
// that cannot be read back from plain text.
// The case tables map within Latin-1 only: a byte whose other case lies
// outside it (B5, DF, FF) maps to itself.
// In a UTF-8 session a byte from 80 to FF is part of a multibyte character,
// never a character of its own: it has no other case and no class (else a
// continuation byte such as 85 or A0 would count as white space).
#include <unicode/uchar.h>

#include "host/internal.h"

namespace zeqhost {

namespace {

void build_tables(ByteTables &t, bool utf8) {
  for (int c = 0; c < 256; c++) {
    if (utf8 && c >= 0x80) {
      t.upcase[c] = t.lowcase[c] = (uint8_t)c;
      t.charclass[c] = 0;
      continue;
    }
    UChar32 u = u_toupper(c), l = u_tolower(c);
    t.upcase[c] = (uint8_t)(u <= 0xFF ? u : c);
    t.lowcase[c] = (uint8_t)(l <= 0xFF ? l : c);

    uint8_t bits = 0;
    int8_t type = u_charType(c);
    if (u_isUUppercase(c)) bits |= ZEQ_CLASS_UPPER;
    if (u_isULowercase(c)) bits |= ZEQ_CLASS_LOWER;
    if (c >= '0' && c <= '9') bits |= ZEQ_CLASS_DIGIT;
    if (u_isUWhiteSpace(c)) bits |= ZEQ_CLASS_SPACE;
    if (type == U_SPACE_SEPARATOR) bits |= 0x20;
    if (type == U_CONTROL_CHAR) bits |= ZEQ_CLASS_CONTROL;
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))
      bits |= ZEQ_CLASS_XDIGIT;
    if (!(bits & (ZEQ_CLASS_UPPER | ZEQ_CLASS_LOWER | ZEQ_CLASS_DIGIT | ZEQ_CLASS_SPACE |
                  ZEQ_CLASS_CONTROL)))
      bits |= ZEQ_CLASS_PUNCT;
    t.charclass[c] = bits;
  }
}

}  // namespace

void build_tables(HostState &h) {
  build_tables(h.tables[0], false);
  build_tables(h.tables[1], true);
}

}  // namespace zeqhost
