// Drawing through the reference host (host/rng_draw.h): every method's
// options as the method catalogue states them, checked against the streams
// the module really draws, and the refusal of options a method ignores.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/rng_draw.h"
#include "tests/support/host_fixture.h"

namespace {

using zeqhost::DrawRequest;
using zeqhost::MethodOptions;

bool runs_here(const MethodOptions &o) {
  std::string err;
  return o.name != "RDRAND" || zeqhost::RandomDraw::open(zeqtest::host(), {.method = "RDRAND"}, err);
}

// The first words of a stream, or the refusal.
struct Drawn {
  std::vector<uint64_t> words;
  std::string err;
};

Drawn draw(const MethodOptions &o, DrawRequest rq) {
  rq.method = std::string(o.name);
  rq.strict_method = true;
  rq.conversion = o.output_bits > 32 || o.output_bits == 0 ? "uint64" : "uint32";
  if (rq.seed == 0) rq.seed = o.seed ? 7 : 0;
  Drawn d;
  auto s = zeqhost::RandomDraw::open(zeqtest::host(), rq, d.err);
  for (int i = 0; s && i < 6; i++) d.words.push_back(s->next().u);
  return d;
}

// For every method and option: the option changes the stream when the
// catalogue says the method takes it, and is refused with a sentence naming
// the methods that do take it otherwise.  Both ends of the thread and key
// ranges are taken; one past the end is refused.
TEST(RandomDraw, EveryOptionEitherSelectsAStreamOrIsRefused) {
  const auto &cfg = zeqhost::all_method_options();
  ASSERT_EQ(cfg.size(), 19u);
  for (const MethodOptions &o : cfg) {
    if (!runs_here(o)) continue;
    SCOPED_TRACE(std::string(o.name));
    const Drawn plain = draw(o, {});
    ASSERT_EQ(plain.err, "");
    struct Option {
      bool taken;
      uint64_t max;
      DrawRequest at_max, past_max;
      const char *noun;
      bool MethodOptions::*field;
    } options[] = {
        {o.key, o.key_max, {.key = o.key_max}, {.key = o.key_max + 1}, "key", &MethodOptions::key},
        {o.thread, o.thread_max, {.thread = o.thread_max}, {.thread = o.thread_max + 1}, "thread number",
         &MethodOptions::thread},
    };
    for (const Option &opt : options) {
      SCOPED_TRACE(opt.noun);
      if (!opt.taken) {
        const bool key = opt.field == &MethodOptions::key;
        const Drawn d = draw(o, key ? DrawRequest{.key = 3} : DrawRequest{.thread = 3});
        EXPECT_TRUE(d.words.empty());
        EXPECT_EQ(d.err, "method " + std::string(o.name) + " takes no " + opt.noun +
                             "; the methods that take one are " + zeqhost::methods_taking(opt.field));
        continue;
      }
      const Drawn top = draw(o, opt.at_max);
      EXPECT_EQ(top.err, "");
      EXPECT_NE(top.words, plain.words);
      if (opt.max != ~0ull) {
        EXPECT_NE(draw(o, opt.past_max).err, "");
      }
    }
    const Drawn positioned = draw(o, {.position = 2});
    EXPECT_EQ(positioned.err.empty(), o.position) << positioned.err;
    // A constant method repeats its seed; every other one moves at once.
    const bool constant = plain.words[0] == plain.words[1] && plain.words[1] == plain.words[5];
    EXPECT_EQ(constant, o.constant_without_key);
  }
}

TEST(RandomDraw, SeedsAndDoubleOptionsAreRefusedWhereIgnored) {
  const struct {
    DrawRequest rq;
    const char *starts;
  } cases[] = {
      {{.method = "RDRAND", .seed = 5}, "method RDRAND takes no seed"},
      {{.method = "XOR64", .key_double = 2.0}, "method XOR64 takes no key; the methods that take one are SUBKEY32"},
      {{.method = "MT32", .key_double = 2.5}, "method MT32 takes whole keys from 0 to 4294967295; got 2.5"},
      {{.method = "pcg", .thread = 1ull << 43}, "method PCG64I tells thread numbers apart from 0 to 8796093022207"},
      {{.method = "PCG32I", .key = 1024}, "method PCG32I takes whole keys from 0 to 1023; got 1024"},
  };
  for (const auto &c : cases) {
    std::string err;
    EXPECT_EQ(zeqhost::RandomDraw::open(zeqtest::host(), c.rq, err), nullptr) << c.starts;
    EXPECT_EQ(err.rfind(c.starts, 0), 0u) << err;
  }
  // NaN and 0 as doubles are no option at all, as the engine reads them.
  std::string err;
  EXPECT_NE(zeqhost::RandomDraw::open(zeqtest::host(), {.method = "XOR64", .key_double = 0.0 / 0.0}, err), nullptr)
      << err;
}

TEST(RandomDraw, OptionsAreFoundByEveryWordOfAMethod) {
  EXPECT_EQ(zeqhost::method_options(" tf2 ")->name, "FRY2X64");
  EXPECT_EQ(zeqhost::method_options("Hardware")->name, "RDRAND");
  EXPECT_EQ(zeqhost::method_options("XOR64 ")->thread, false);
  EXPECT_EQ(zeqhost::method_options("MTX"), nullptr);
  const std::string listing = zeqhost::method_listing(zeqtest::host());
  EXPECT_NE(listing.find("SUBKEY64  64-bit   words  takes seed key thread           64-bit Subtract Key; constant"),
            std::string::npos)
      << listing;
  EXPECT_NE(listing.find("XOR64     64-bit   words  takes seed                      64-bit XORSHIFT64*\n"), std::string::npos);
}

}  // namespace
