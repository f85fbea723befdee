#include "tools/zeq/rand.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/zeq/parser.h"
#include "zeq/rng.h"

namespace zeqtool {
namespace {

enum class Kind { U32, U64, Double, Position };

struct SlotName {
  const char *name;
  Kind kind;
  size_t offset;  // offset of the slot in zrng_desc (Double/U32/U64)
};

#define DESC_SLOT(field) offsetof(zrng_desc, field)
const SlotName kSlots[] = {
    {"uint32", Kind::U32, DESC_SLOT(uint32)},
    {"uint64", Kind::U64, DESC_SLOT(uint64)},
    {"default", Kind::Double, 0},  // the stream's double_fn
    {"crude", Kind::Double, DESC_SLOT(double_crude)},
    {"with_zero", Kind::Double, DESC_SLOT(double_with_zero)},
    {"double_32_reject_zero", Kind::Double, DESC_SLOT(double_32) + 8 * ZRNG_REJECT},
    {"double_32_open_open", Kind::Double, DESC_SLOT(double_32) + 8 * ZRNG_OO},
    {"double_32_open_closed", Kind::Double, DESC_SLOT(double_32) + 8 * ZRNG_OC},
    {"double_32_closed_open", Kind::Double, DESC_SLOT(double_32) + 8 * ZRNG_CO},
    {"double_32_closed_closed", Kind::Double, DESC_SLOT(double_32) + 8 * ZRNG_CC},
    {"double_53_reject_zero", Kind::Double, DESC_SLOT(double_53) + 8 * ZRNG_REJECT},
    {"double_53_open_open", Kind::Double, DESC_SLOT(double_53) + 8 * ZRNG_OO},
    {"double_53_open_closed", Kind::Double, DESC_SLOT(double_53) + 8 * ZRNG_OC},
    {"double_53_closed_open", Kind::Double, DESC_SLOT(double_53) + 8 * ZRNG_CO},
    {"double_53_closed_closed", Kind::Double, DESC_SLOT(double_53) + 8 * ZRNG_CC},
    {"double_64_reject_zero_one", Kind::Double, DESC_SLOT(double_64) + 8 * ZRNG_REJECT},
    {"double_64_open_open", Kind::Double, DESC_SLOT(double_64) + 8 * ZRNG_OO},
    {"double_64_open_closed", Kind::Double, DESC_SLOT(double_64) + 8 * ZRNG_OC},
    {"double_64_closed_open", Kind::Double, DESC_SLOT(double_64) + 8 * ZRNG_CO},
    {"double_64_closed_closed", Kind::Double, DESC_SLOT(double_64) + 8 * ZRNG_CC},
    {"double_infinite", Kind::Double, DESC_SLOT(double_infinite)},
};

const SlotName *find_slot(std::string name) {
  for (auto &c : name) c = (char)std::tolower((unsigned char)c);
  if (name.rfind("zrng_", 0) == 0) name = name.substr(5);
  for (const auto &s : kSlots) {
    if (name == s.name) return &s;
    if (std::strncmp(s.name, "double_", 7) == 0 && name == s.name + 7) return &s;
  }
  return nullptr;
}

bool parse_u64(const std::string &t, uint64_t &out) {
  if (t.empty()) return false;
  char *end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(t.c_str(), &end, 0);
  if (errno || !end || *end || t[0] == '-') return false;
  out = v;
  return true;
}

// The generator methods by canonical name; each has an exported builder
// zrnf<NAME> that fills a descriptor.
const char *const kMethods[] = {"SUBKEY32", "SUBKEY64", "RANUNI",  "RDRAND",  "MT1998",  "MTHYBRID", "MT32",
                                "MT64",     "MH3",      "XOR64",   "XOR128",  "XOR1024", "XOR4096",  "XORGENS",
                                "FRY2X32",  "FRY2X64",  "FRY4X64", "PCG32I",  "PCG64I"};

std::string method_names() {
  std::string out;
  for (const char *m : kMethods) out += std::string(out.empty() ? "" : ", ") + m;
  return out;
}

// Whether the method resolver knows `word` (it builds MTHYBRID for any other).
bool known_method(zeqhost::Host &host, const std::string &word) {
  auto meth = host.fn<int32_t (*)(const void *, int64_t, zrng_desc *, int64_t)>("zrngmeth");
  if (!meth || word.empty()) return true;
  zrng_desc d{};
  return meth(word.c_str(), -1, &d, 0) != ZRAND_RC_BAD_METHOD;
}

// Writes one drawn word: a text line, or its bytes little-endian.
template <class T>
void put_word(std::FILE *out, bool binary, T word) {
  if (binary) {
    unsigned char b[sizeof(T)];
    for (size_t i = 0; i < sizeof(T); i++) b[i] = (unsigned char)(uint64_t(word) >> (8 * i));
    std::fwrite(b, 1, sizeof b, out);
  } else if constexpr (sizeof(T) == 4) {
    std::fprintf(out, "%" PRIu32 "\n", (uint32_t)word);
  } else {
    std::fprintf(out, "%" PRIu64 "\n", (uint64_t)word);
  }
}

void put_double(std::FILE *out, bool binary, double x) {
  if (binary) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    put_word(out, true, bits);
  } else {
    std::fprintf(out, "%.17g\n", x);
  }
}

}  // namespace

std::vector<std::string> rand_slot_names() {
  std::vector<std::string> v;
  for (const auto &s : kSlots) v.push_back(s.name);
  return v;
}

std::string rand_method_list(zeqhost::Host &host) {
  std::string out;
  for (const char *m : kMethods) {
    auto build = host.fn<void (*)(zrng_desc *)>((std::string("zrnf") + m).c_str());
    if (!build) continue;
    zrng_desc d{};
    build(&d);
    char line[160], bits[16] = "hardware";
    if (d.output_bits > 0) std::snprintf(bits, sizeof bits, "%d-bit", (int)d.output_bits);
    std::snprintf(line, sizeof line, "%-9s %-8s words  %s\n", m, bits,
                  d.description[0] ? std::string(d.description, strnlen(d.description, sizeof d.description)).c_str()
                                   : "(no description)");
    out += line;
  }
  return out;
}

namespace {

// Applies the seed, key and position requests to a fresh stream; answers
// the stream, or null with err set.
zrand_stream *open_stream(zeqhost::Host &host, const RandOptions &opt, int32_t &status, std::string &err) {
  using alloc_tk_t = zrand_stream *(*)(ZeqPool *);
  using init_t = int32_t (*)(zrand_stream *);
  auto alloc_tk = host.fn<alloc_tk_t>("zrand_alloc_tk");
  auto init = host.fn<init_t>("zrand_init");
  if (!alloc_tk || !init) return err = "the module offers no random streams in this build", nullptr;
  if (!known_method(host, opt.method))
    return err = "unknown method '" + opt.method + "'; the methods are " + method_names(), nullptr;
  zrand_stream *s = alloc_tk(host.global_pool().raw());
  if (!s) return err = "no room for a stream", nullptr;
  static std::string word;  // the stream keeps the address until it is resolved
  word = opt.method;
  s->method_word = word.empty() ? nullptr : word.c_str();
  s->seed = opt.seed;
  s->key = opt.key;
  s->thread = opt.thread;
  if (!opt.seed_double.empty()) {
    auto x = parse_number(opt.seed_double);
    if (!x) return err = "--seed-double wants a number", nullptr;
    s->seed_double = *x;
  }
  if (!opt.key_double.empty()) {
    auto x = parse_number(opt.key_double);
    if (!x) return err = "--key-double wants a number", nullptr;
    s->key_double = *x;
  }
  status = init(s);
  zrng_desc *d = s->desc;
  if (!d) return err = "the stream has no generator", nullptr;
  if (!opt.position.empty()) {
    uint64_t a = 0;
    if (!parse_u64(opt.position, a)) return err = "--position wants an unsigned integer", nullptr;
    if (d->count_64) d->count_64(s->state, a);
    else if (d->count_32) d->count_32(s->state, (uint32_t)a);
    else return err = std::string("method ") + d->name + " cannot be positioned", nullptr;
  }
  return s;
}

void print_info(zeqhost::Host &host, zrand_stream *s, int32_t status, std::FILE *out) {
  std::fprintf(out, "method=%s seed=%" PRIu64 " key=%" PRIu64 " thread=%" PRIu64 " status=0x%08X\n", s->desc->name,
               (uint64_t)s->seed_used, (uint64_t)s->key, (uint64_t)s->thread, (unsigned)status);
  if (auto macros = host.fn<void (*)(int32_t, zrand_stream *)>("zrand_macros")) {
    macros(0, s);
    std::fprintf(out, "SYSRANDOM='%s'\n", host.macro("SYSRANDOM").value_or("").c_str());
    std::fprintf(out, "SYSRANEND='%s'\n", host.macro("SYSRANEND").value_or("").c_str());
  }
}

void print_dump(zeqhost::Host &host, zrand_stream *s, std::FILE *out) {
  zrng_desc *d = s->desc;
  size_t before = host.log().size();
  if (d->output_bits > 32 && d->dump_blob_64)
    d->dump_blob_64(static_cast<const uint64_t *>(s->state), s->state_size / 8);
  else if (d->dump_blob_32)
    d->dump_blob_32(static_cast<const uint32_t *>(s->state), s->state_size / 4);
  const auto &log = host.log();
  for (size_t i = before; i < log.size(); i++) std::fprintf(out, "%s\n", log[i].text.c_str());
}

// The double slot --as names; null when the method lacks it.
zrng_double_fn double_slot(const zrand_stream *s, const SlotName &slot) {
  if (slot.offset == 0) return s->double_fn;
  return *reinterpret_cast<const zrng_double_fn *>(reinterpret_cast<const char *>(s->desc) + slot.offset);
}

}  // namespace

int run_rand(zeqhost::Host &host, const RandOptions &opt, std::FILE *out, std::string &err) {
  const SlotName *slot = find_slot(opt.as);
  if (!slot) {
    err = "unknown slot '" + opt.as + "' for --as (zeq rand --list-slots shows them)";
    return 2;
  }
  int32_t status = 0;
  zrand_stream *s = open_stream(host, opt, status, err);
  if (!s) return 2;
  zrng_desc *d = s->desc;
  if ((slot->kind == Kind::U32 && !d->uint32) || (slot->kind == Kind::U64 && !d->uint64) ||
      (slot->kind == Kind::Double && !double_slot(s, *slot))) {
    err = std::string(d->name) + " does not offer the slot " + slot->name;
    return 2;
  }
  if (opt.info) print_info(host, s, status, out);
  zrng_double_fn fn = slot->kind == Kind::Double ? double_slot(s, *slot) : nullptr;
  for (uint64_t i = 0; i < opt.count; i++) {
    if (slot->kind == Kind::U32) put_word(out, opt.binary, d->uint32(s->state));
    else if (slot->kind == Kind::U64) put_word(out, opt.binary, d->uint64(s->state));
    else put_double(out, opt.binary, fn(s->state));
  }
  if (opt.dump) print_dump(host, s, out);
  return 0;
}

}  // namespace zeqtool
