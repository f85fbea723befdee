#include "tools/zeq/rand.h"

#include <cerrno>
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

// Fills the request from the options; "" when they are sound.
std::string make_request(const RandOptions &opt, zeqhost::DrawRequest &rq) {
  rq.method = opt.method;
  rq.conversion = opt.as;
  if (!parse_u64(opt.seed, rq.seed)) return "--seed wants an unsigned integer";
  if (!parse_u64(opt.key, rq.key)) return "--key wants an unsigned integer";
  if (!parse_u64(opt.thread, rq.thread)) return "--thread wants an unsigned integer";
  if (!opt.seed_double.empty()) {
    auto x = parse_number(opt.seed_double);
    if (!x) return "--seed-double wants a number";
    rq.seed_double = *x;
  }
  if (!opt.key_double.empty()) {
    auto x = parse_number(opt.key_double);
    if (!x) return "--key-double wants a number";
    rq.key_double = *x;
  }
  if (!opt.position.empty()) {
    uint64_t a = 0;
    if (!parse_u64(opt.position, a)) return "--position wants an unsigned integer";
    rq.position = a;
  }
  return "";
}

void add_info(zeqhost::Host &host, const zeqhost::RandomDraw &draw, std::vector<std::string> &out) {
  using macros_t = void (*)(int32_t, zrand_stream *);
  zrand_stream *s = draw.stream();
  char buf[200];
  std::snprintf(buf, sizeof buf, "method=%s seed=%" PRIu64 " key=%" PRIu64 " thread=%" PRIu64
                " status=0x%08X", s->desc->name, (uint64_t)s->seed_used, (uint64_t)s->key,
                (uint64_t)s->thread, (unsigned)draw.init_status());
  out.push_back(buf);
  if (auto macros = host.fn<macros_t>("zrand_macros")) {
    macros(0, s);
    out.push_back("SYSRANDOM='" + host.macro("SYSRANDOM").value_or("") + "'");
    out.push_back("SYSRANEND='" + host.macro("SYSRANEND").value_or("") + "'");
  }
}

void add_dump(zeqhost::Host &host, const zrand_stream *s, std::vector<std::string> &out) {
  const zrng_desc *d = s->desc;
  size_t before = host.log().size();
  if (d->output_bits > 32 && d->dump_blob_64)
    d->dump_blob_64(static_cast<const uint64_t *>(s->state), s->state_size / 8);
  else if (d->dump_blob_32)
    d->dump_blob_32(static_cast<const uint32_t *>(s->state), s->state_size / 4);
  const auto &log = host.log();
  for (size_t i = before; i < log.size(); i++) out.push_back(log[i].text);
}

}  // namespace

std::vector<std::string> rand_slot_names() { return zeqhost::draw_conversion_names(); }

int run_rand(zeqhost::Host &host, const RandOptions &opt, std::vector<std::string> &out, std::string &err) {
  zeqhost::DrawRequest rq;
  err = make_request(opt, rq);
  if (!err.empty()) return 2;
  auto draw = zeqhost::RandomDraw::open(host, rq, err);
  if (!draw) return 2;
  if (opt.info) add_info(host, *draw, out);
  for (long long i = 0; i < opt.count; i++) out.push_back(draw->next().text());
  if (opt.dump) add_dump(host, draw->stream(), out);
  return 0;
}

}  // namespace zeqtool
