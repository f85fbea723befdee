// core/version.cc - the version-information block (208 bytes) tkvercn1
// hands out.  The text fields are kept scrambled (each byte XORed with 0x5A)
// so that they do not show in a plain dump of the library; the numeric
// fields are plain.
#include <cstdint>
#include <cstring>

#include "core/export.h"

namespace {

struct VersionRecord {
  char tag[8];            // 0x00 "ZEQVER1" (plain)
  int32_t record_bytes;   // 0x08 208
  int32_t major;          // 0x0C 1
  int32_t minor;          // 0x10 0
  int32_t patch;          // 0x14 0
  uint8_t scramble_key;   // 0x18 0x5A
  uint8_t reserved[7];    // 0x19
  char product[32];       // 0x20 scrambled "zeqwucha"
  char release[16];       // 0x40 scrambled "1.0.0"
  char build_date[16];    // 0x50 scrambled __DATE__
  char description[112];  // 0x60 scrambled one-line description
};
static_assert(sizeof(VersionRecord) == 208, "version block is 208 bytes");

constexpr uint8_t kScrambleKey = 0x5A;

template <size_t N, size_t M>
constexpr void scrambled(char (&field)[N], const char (&text)[M]) {
  static_assert(M - 1 <= N, "text longer than its field");
  for (size_t i = 0; i + 1 < M; i++) field[i] = static_cast<char>(text[i] ^ kScrambleKey);
}

constexpr VersionRecord make_version() {
  VersionRecord v{};
  const char tag[] = "ZEQVER1";
  for (size_t i = 0; i < sizeof tag; i++) v.tag[i] = tag[i];
  v.record_bytes = 208;
  v.major = 1;
  v.minor = 0;
  v.patch = 0;
  v.scramble_key = kScrambleKey;
  scrambled(v.product, "zeqwucha");
  scrambled(v.release, "1.0.0");
  scrambled(v.build_date, __DATE__);
  scrambled(v.description, "character functions, string kernel and random-number engine");
  return v;
}

constexpr VersionRecord kVersion = make_version();

}  // namespace

// Copies the 208-byte version record into buffer; answers buffer.
extern "C" ZEQ_EXPORT void *tkvercn1(void *buffer) {
  if (!buffer) return nullptr;
  std::memcpy(buffer, &kVersion, sizeof kVersion);
  return buffer;
}
