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

// Draws count values through the conversion and prints each as zeq does.
template <class T>
std::string draw_lines(zrand_stream *s, const zeqhost::rng::Conversion &c, size_t n, const char *format,
                       std::vector<std::string> &out) {
  std::vector<T> values(n);
  if (std::string e = zeqhost::rng::draw(s, c, values.data(), n); !e.empty()) return e;
  char line[40];
  for (T v : values) {
    std::snprintf(line, sizeof line, format, v);
    out.push_back(line);
  }
  return "";
}

std::string draw_lines(zrand_stream *s, const zeqhost::rng::Conversion &c, long long count,
                       std::vector<std::string> &out) {
  using zeqhost::rng::DrawKind;
  size_t n = count > 0 ? (size_t)count : 0;
  if (n == 0) return "";
  if (c.kind == DrawKind::U32) return draw_lines<uint32_t>(s, c, n, "%" PRIu32, out);
  if (c.kind == DrawKind::U64) return draw_lines<uint64_t>(s, c, n, "%" PRIu64, out);
  return draw_lines<double>(s, c, n, "%.17g", out);
}

}  // namespace

std::vector<std::string> rand_slot_names() {
  std::vector<std::string> v;
  for (const auto &c : zeqhost::rng::conversions()) v.push_back(c.name);
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
  const zeqhost::rng::Conversion *slot = zeqhost::rng::find_conversion(opt.as);
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
  if (std::string e = draw_lines(s, *slot, opt.count, out); !e.empty()) {
    err = e;
    return 2;
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
