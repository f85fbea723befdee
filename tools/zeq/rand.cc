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

std::string fmt_double(double x) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", x);
  return buf;
}

}  // namespace

std::vector<std::string> rand_slot_names() {
  std::vector<std::string> v;
  for (const auto &s : kSlots) v.push_back(s.name);
  return v;
}

int run_rand(zeqhost::Host &host, const RandOptions &opt, std::vector<std::string> &out, std::string &err) {
  using alloc_tk_t = zrand_stream *(*)(ZeqPool *);
  using init_t = int32_t (*)(zrand_stream *);
  using macros_t = void (*)(int32_t, zrand_stream *);
  auto alloc_tk = host.fn<alloc_tk_t>("zrand_alloc_tk");
  auto init = host.fn<init_t>("zrand_init");
  auto macros = host.fn<macros_t>("zrand_macros");
  if (!alloc_tk || !init) {
    err = "the module offers no random streams in this build";
    return 2;
  }
  const SlotName *slot = find_slot(opt.as);
  if (!slot) {
    err = "unknown slot '" + opt.as + "' for --as (zeq rand --list-slots shows them)";
    return 2;
  }
  uint64_t seed = 0, key = 0, thread = 0;
  if (!parse_u64(opt.seed, seed)) { err = "--seed wants an unsigned integer"; return 2; }
  if (!parse_u64(opt.key, key)) { err = "--key wants an unsigned integer"; return 2; }
  if (!parse_u64(opt.thread, thread)) { err = "--thread wants an unsigned integer"; return 2; }

  zrand_stream *s = alloc_tk(host.global_pool().raw());
  if (!s) {
    err = "no room for a stream";
    return 2;
  }
  static std::string word;  // the stream keeps the address until it is resolved
  word = opt.method;
  s->method_word = word.empty() ? nullptr : word.c_str();
  s->seed = seed;
  s->key = key;
  s->thread = thread;
  if (!opt.seed_double.empty()) {
    auto x = parse_number(opt.seed_double);
    if (!x) { err = "--seed-double wants a number"; return 2; }
    s->seed_double = *x;
  }
  if (!opt.key_double.empty()) {
    auto x = parse_number(opt.key_double);
    if (!x) { err = "--key-double wants a number"; return 2; }
    s->key_double = *x;
  }
  int32_t status = init(s);
  zrng_desc *d = s->desc;
  if (!d) {
    err = "the stream has no generator";
    return 2;
  }
  if (!opt.position.empty()) {
    uint64_t a = 0;
    if (!parse_u64(opt.position, a)) { err = "--position wants an unsigned integer"; return 2; }
    if (d->count_64) d->count_64(s->state, a);
    else if (d->count_32) d->count_32(s->state, (uint32_t)a);
    else { err = std::string("method ") + d->name + " cannot be positioned"; return 2; }
  }
  if (opt.info) {
    char buf[200];
    std::snprintf(buf, sizeof buf, "method=%s seed=%" PRIu64 " key=%" PRIu64 " thread=%" PRIu64
                  " status=0x%08X", d->name, (uint64_t)s->seed_used, (uint64_t)s->key,
                  (uint64_t)s->thread, (unsigned)status);
    out.push_back(buf);
    if (macros) {
      macros(0, s);
      out.push_back("SYSRANDOM='" + host.macro("SYSRANDOM").value_or("") + "'");
      out.push_back("SYSRANEND='" + host.macro("SYSRANEND").value_or("") + "'");
    }
  }
  for (long long i = 0; i < opt.count; i++) {
    char buf[40];
    if (slot->kind == Kind::U32) {
      if (!d->uint32) { err = std::string(d->name) + " has no uint32 slot"; return 2; }
      std::snprintf(buf, sizeof buf, "%" PRIu32, d->uint32(s->state));
      out.push_back(buf);
    } else if (slot->kind == Kind::U64) {
      if (!d->uint64) { err = std::string(d->name) + " has no uint64 slot"; return 2; }
      std::snprintf(buf, sizeof buf, "%" PRIu64, d->uint64(s->state));
      out.push_back(buf);
    } else {
      zrng_double_fn fn = slot->offset == 0
                              ? s->double_fn
                              : *reinterpret_cast<zrng_double_fn *>(reinterpret_cast<char *>(d) + slot->offset);
      if (!fn) { err = std::string(d->name) + " does not offer " + slot->name; return 2; }
      out.push_back(fmt_double(fn(s->state)));
    }
  }
  if (opt.dump) {
    size_t before = host.log().size();
    if (d->output_bits > 32 && d->dump_blob_64)
      d->dump_blob_64(static_cast<const uint64_t *>(s->state), s->state_size / 8);
    else if (d->dump_blob_32)
      d->dump_blob_32(static_cast<const uint32_t *>(s->state), s->state_size / 4);
    const auto &log = host.log();
    for (size_t i = before; i < log.size(); i++) out.push_back(log[i].text);
  }
  return 0;
}

}  // namespace zeqtool
