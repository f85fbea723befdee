#include "tools/zeq/rand.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/rng_draw.h"
#include "tools/zeq/parser.h"
#include "zeq/rng.h"

namespace zeqtool {
namespace {

bool parse_u64(const std::string &t, uint64_t &out) {
  if (t.empty()) return false;
  char *end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(t.c_str(), &end, 0);
  if (errno || !end || *end || t[0] == '-') return false;
  out = v;
  return true;
}

// The methods in the order zeq rand lists them, joined for messages.
std::string method_names() {
  const auto listed = zeqhost::rng::listed_method_names();
  return zeqhost::join_names({listed.begin(), listed.end()});
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

void put_value(std::FILE *out, bool binary, zeqhost::rng::DrawKind kind, const zeqhost::DrawValue &v) {
  using zeqhost::rng::DrawKind;
  if (kind == DrawKind::U32) return put_word(out, binary, (uint32_t)v.u);
  if (kind == DrawKind::U64) return put_word(out, binary, v.u);
  if (!binary) {
    std::fprintf(out, "%.17g\n", v.d);
    return;
  }
  uint64_t bits;
  std::memcpy(&bits, &v.d, sizeof bits);
  put_word(out, true, bits);
}

}  // namespace

std::vector<std::string> rand_slot_names() {
  std::vector<std::string> v;
  for (const auto &c : zeqhost::rng::conversions()) v.push_back(c.name);
  return v;
}

std::string rand_method_list(zeqhost::Host &host) { return zeqhost::method_listing(host); }

namespace {

// The draw request the options make; false with err set when one is malformed.
bool request_of(zeqhost::Host &host, const RandOptions &opt, zeqhost::DrawRequest &rq, std::string &err) {
  if (!known_method(host, opt.method))
    return err = "unknown method '" + opt.method + "'; the methods are " + method_names(), false;
  rq.method = opt.method;
  rq.seed = opt.seed;
  rq.key = opt.key;
  rq.thread = opt.thread;
  rq.conversion = opt.as;
  rq.conversion_noun = "the slot ";
  if (!opt.seed_double.empty() && !(rq.seed_double = parse_number(opt.seed_double)))
    return err = "--seed-double wants a number", false;
  if (!opt.key_double.empty() && !(rq.key_double = parse_number(opt.key_double)))
    return err = "--key-double wants a number", false;
  if (!opt.position.empty()) {
    uint64_t a = 0;
    if (!parse_u64(opt.position, a)) return err = "--position wants an unsigned integer", false;
    rq.position = a;
  }
  return true;
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

}  // namespace

int run_rand(zeqhost::Host &host, const RandOptions &opt, std::FILE *out, std::string &err) {
  const zeqhost::rng::Conversion *slot = zeqhost::rng::find_conversion(opt.as);
  if (!slot) {
    err = "unknown slot '" + opt.as + "' for --as (zeq rand --list-slots shows them)";
    return 2;
  }
  zeqhost::DrawRequest rq;
  if (!request_of(host, opt, rq, err)) return 2;
  auto draw = zeqhost::RandomDraw::open(host, rq, err);
  if (!draw) return 2;
  if (opt.info) print_info(host, draw->stream(), draw->init_status(), out);
  for (uint64_t i = 0; i < opt.count; i++) put_value(out, opt.binary, slot->kind, draw->next());
  if (opt.dump) print_dump(host, draw->stream(), out);
  return 0;
}

}  // namespace zeqtool
