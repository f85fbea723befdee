#include "tools/zeq/rand.h"

#include <bit>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <type_traits>
#include <vector>

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

std::optional<double> finite_number(const std::string &t) {
  auto x = parse_number(t);
  return x && std::isfinite(*x) ? x : std::nullopt;
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

constexpr size_t kBufferValues = 8192;  // values drawn and written at a time

// Text lines of n drawn values: integers in decimal, doubles with 17
// significant digits.
template <class T>
void append_text(std::string &text, const T *v, size_t n) {
  char buf[40];
  for (size_t i = 0; i < n; i++) {
    std::to_chars_result r;
    if constexpr (std::is_floating_point_v<T>) r = std::to_chars(buf, buf + sizeof buf, v[i], std::chars_format::general, 17);
    else r = std::to_chars(buf, buf + sizeof buf, v[i]);
    text.append(buf, r.ptr).push_back('\n');
  }
}

// n drawn values as raw little-endian words.
template <class T>
void append_binary(std::string &bytes, const T *v, size_t n) {
  const size_t at = bytes.size();
  bytes.resize(at + n * sizeof(T));
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(bytes.data() + at, v, n * sizeof(T));
  } else {
    for (size_t i = 0; i < n; i++) {
      uint64_t w = 0;
      std::memcpy(&w, &v[i], sizeof(T));
      for (size_t b = 0; b < sizeof(T); b++) bytes[at + i * sizeof(T) + b] = (char)(w >> (8 * b));
    }
  }
}

// Draws `count` values through the slot, a buffer at a time, and writes
// them; stops at the first write that fails.
template <class T>
std::string draw_and_write(zrand_stream *s, const zeqhost::rng::Conversion &slot, uint64_t count, bool binary,
                           Output &out) {
  std::vector<T> values(kBufferValues);
  std::string bytes;
  while (count > 0 && !out.failed()) {
    const size_t n = (size_t)std::min<uint64_t>(count, kBufferValues);
    if (std::string err = zeqhost::rng::draw(s, slot, values.data(), n); !err.empty()) return err;
    bytes.clear();
    if (binary) append_binary(bytes, values.data(), n);
    else append_text(bytes, values.data(), n);
    out.write(bytes);
    count -= n;
  }
  return "";
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
  if (!opt.seed_double.empty() && !(rq.seed_double = finite_number(opt.seed_double)))
    return err = "--seed-double wants a finite number, got " + opt.seed_double, false;
  if (!opt.key_double.empty() && !(rq.key_double = finite_number(opt.key_double)))
    return err = "--key-double wants a finite number, got " + opt.key_double, false;
  if (!opt.position.empty()) {
    uint64_t a = 0;
    if (!parse_u64(opt.position, a)) return err = "--position wants an unsigned integer", false;
    rq.position = a;
  }
  return true;
}

void print_info(zeqhost::Host &host, zrand_stream *s, int32_t status, Output &out) {
  char line[256];
  std::snprintf(line, sizeof line, "method=%s seed=%" PRIu64 " key=%" PRIu64 " thread=%" PRIu64 " status=0x%08X\n",
                s->desc->name, (uint64_t)s->seed_used, (uint64_t)s->key, (uint64_t)s->thread, (unsigned)status);
  out.write(line);
  if (auto macros = host.fn<void (*)(int32_t, zrand_stream *)>("zrand_macros")) {
    macros(0, s);
    out.write("SYSRANDOM='" + host.macro("SYSRANDOM").value_or("") + "'\n");
    out.write("SYSRANEND='" + host.macro("SYSRANEND").value_or("") + "'\n");
  }
}

void print_dump(zeqhost::Host &host, zrand_stream *s, Output &out) {
  zrng_desc *d = s->desc;
  size_t before = host.log().size();
  if (d->output_bits > 32 && d->dump_blob_64)
    d->dump_blob_64(static_cast<const uint64_t *>(s->state), s->state_size / 8);
  else if (d->dump_blob_32)
    d->dump_blob_32(static_cast<const uint32_t *>(s->state), s->state_size / 4);
  const auto &log = host.log();
  for (size_t i = before; i < log.size(); i++) out.write(log[i].text + "\n");
}

}  // namespace

int run_rand(zeqhost::Host &host, const RandOptions &opt, Output &out, std::string &err) {
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
  using zeqhost::rng::DrawKind;
  zrand_stream *s = draw->stream();
  err = slot->kind == DrawKind::U32   ? draw_and_write<uint32_t>(s, *slot, opt.count, opt.binary, out)
        : slot->kind == DrawKind::U64 ? draw_and_write<uint64_t>(s, *slot, opt.count, opt.binary, out)
                                      : draw_and_write<double>(s, *slot, opt.count, opt.binary, out);
  if (!err.empty()) return 2;
  if (opt.dump) print_dump(host, s, out);
  return 0;
}

}  // namespace zeqtool
