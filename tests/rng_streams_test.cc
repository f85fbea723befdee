// Frozen streams: the first 1,000 draws of every reproducible method through
// every conversion it offers, at three seeds and with a key and a thread
// number where the method takes them, drawn as every front end draws them
// (host/rng_draw.h) and compared with tests/data/streams/<METHOD>.txt.
// These draws never change within a major version.  A file holds, for each
// case and conversion, an FNV-1a digest of the 1,000 values' bits and the
// first three values, and the 1,000 raw words of the first case in full.
//
// ZEQ_WRITE_STREAMS=1 rewrites the files instead (only for a new method, or
// for a new major version with its CHANGELOG entry).
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/rng_draw.h"
#include "tests/support/host_fixture.h"

namespace {

using zeqhost::DrawRequest;
using zeqhost::MethodOptions;

constexpr int kDraws = 1000;

struct Case {
  uint64_t seed, key, thread;
};

std::vector<Case> cases_of(const MethodOptions &o) {
  std::vector<Case> v = {{1, 0, 0}, {12345, 0, 0}, {4294967295u, 0, 0}};
  if (o.key || o.thread) v.push_back({12345, o.key ? 3u : 0u, o.thread ? 5u : 0u});
  return v;
}

// The bits of n values drawn through conversion c (none when the method lacks it).
std::vector<uint64_t> draw_bits(const MethodOptions &o, const Case &k, const zeqhost::rng::Conversion &c) {
  DrawRequest rq{.method = std::string(o.name), .seed = k.seed, .key = k.key, .thread = k.thread};
  rq.conversion = c.name;
  rq.strict_method = true;
  std::string err;
  auto d = zeqhost::RandomDraw::open(zeqtest::host(), rq, err);
  std::vector<uint64_t> out;
  for (int i = 0; d && i < kDraws; i++) {
    const zeqhost::DrawValue v = d->next();
    uint64_t bits = v.u;
    if (!v.integer) std::memcpy(&bits, &v.d, sizeof bits);
    out.push_back(bits);
  }
  return out;
}

uint64_t fnv1a(const std::vector<uint64_t> &words) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (uint64_t w : words)
    for (int i = 0; i < 8; i++) h = (h ^ ((w >> (8 * i)) & 0xFF)) * 0x100000001B3ull;
  return h;
}

std::string hex(uint64_t v, int digits = 16) {
  char b[24];
  std::snprintf(b, sizeof b, "%0*" PRIx64, digits, v);
  return b;
}

// The file's text for method o.
std::string frozen_text(const MethodOptions &o) {
  const bool narrow = o.output_bits <= 32;
  std::string t = "# Frozen stream of " + std::string(o.name) +
                  ": never changes within a major version.\n"
                  "# Written by tests/rng_streams_test.cc with ZEQ_WRITE_STREAMS=1; do not edit.\n"
                  "# case SEED KEY THREAD, then per conversion: name, FNV-1a 64 of the 1000 values'\n"
                  "# bits (little-endian), the first three values' bits; then the raw words of case 1.\n";
  const std::vector<Case> cases = cases_of(o);
  for (const Case &k : cases) {
    t += "case " + std::to_string(k.seed) + " " + std::to_string(k.key) + " " + std::to_string(k.thread) + "\n";
    for (const auto &c : zeqhost::rng::conversions()) {
      const std::vector<uint64_t> bits = draw_bits(o, k, c);
      if (bits.empty()) continue;
      t += std::string(c.name) + " " + hex(fnv1a(bits)) + " " + hex(bits[0]) + " " + hex(bits[1]) + " " +
           hex(bits[2]) + "\n";
    }
  }
  const auto *raw = zeqhost::rng::find_conversion(narrow ? "uint32" : "uint64");
  const std::vector<uint64_t> words = draw_bits(o, cases[0], *raw);
  t += std::string("words ") + raw->name + "\n";
  for (size_t i = 0; i < words.size(); i++)
    t += hex(words[i], narrow ? 8 : 16) + ((i + 1) % 8 == 0 || i + 1 == words.size() ? "\n" : " ");
  return t;
}

std::string path_of(const MethodOptions &o) {
  return std::string(ZEQ_SOURCE_DIR) + "/tests/data/streams/" + std::string(o.name) + ".txt";
}

// RDRAND has no seed: it is the one method without a frozen stream.
TEST(FrozenStreams, EveryReproducibleMethodDrawsItsFrozenStream) {
  const bool write = std::getenv("ZEQ_WRITE_STREAMS") != nullptr;
  int files = 0;
  for (const MethodOptions &o : zeqhost::all_method_options()) {
    if (!o.seed) continue;
    SCOPED_TRACE(std::string(o.name));
    const std::string want = frozen_text(o);
    if (write) std::ofstream(path_of(o)) << want;
    std::ifstream in(path_of(o));
    ASSERT_TRUE(in) << path_of(o) << " is missing";
    std::stringstream have;
    have << in.rdbuf();
    ++files;
    if (have.str() == want) continue;
    std::istringstream a(have.str()), b(want);
    std::string la, lb;
    int line = 0;
    while (++line, std::getline(a, la) && std::getline(b, lb) && la == lb) {
    }
    ADD_FAILURE() << path_of(o) << ":" << line << ": the stream changed\n  frozen: " << la << "\n  drawn:  " << lb
                  << "\nA stream may change only in a new major version, announced in CHANGELOG.md.";
  }
  EXPECT_EQ(files, 18);
}

}  // namespace
