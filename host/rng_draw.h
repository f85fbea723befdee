// host/rng_draw.h - drawing values from a random stream as a host does.
//
// One stream made through the host's global pool, given a method word, a
// seed, a key, a thread number and (counter-based methods) a position, then
// read through one conversion slot of its descriptor.  zeq rand, the SQL
// extension's zeq_random and the Python extension's Stream draw through
// this, so the same settings give the same values everywhere.  An option
// the method ignores (a key, a thread number, a seed of the hardware method)
// or would cut (a thread number or key beyond what it tells apart) is
// refused with a sentence naming the methods that take it.
//
//   std::string err;
//   auto d = zeqhost::RandomDraw::open(host, {.method = "MT64", .seed = 42}, err);
//   if (!d) report(err); else for (int i = 0; i < 5; i++) use(d->next());
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"
#include "zeq/rng.h"

namespace zeqhost {

struct DrawRequest {
  std::string method;                 // method word; empty: the setting, else the default method
  uint64_t seed = 0;                  // 0 draws a fresh seed
  uint64_t key = 0;
  uint64_t thread = 0;
  std::optional<double> seed_double;  // seed given as a double
  std::optional<double> key_double;   // key given as a double
  std::optional<uint64_t> position;   // counter-based methods: position before drawing
  std::string conversion = "default"; // slot drawn through (draw_conversion_names())
  bool strict_method = false;         // an unknown method word, or one this processor cannot
                                      // run, is an error instead of the default method
  std::string_view conversion_noun;   // word before the conversion in "MT32 does not offer
                                      // <noun> uint64" (zeq rand says "the slot")
};

// One drawn value: an integer (uint32, uint64) or a double.
struct DrawValue {
  bool integer = false;
  uint64_t u = 0;
  double d = 0;
  std::string text() const;  // integers in decimal, doubles with 17 significant digits
};

class RandomDraw {
 public:
  // A stream set up as the request says, or null with err saying why.
  static std::unique_ptr<RandomDraw> open(Host &host, const DrawRequest &request, std::string &err);
  ~RandomDraw();  // gives the stream back to the pool
  RandomDraw(const RandomDraw &) = delete;
  RandomDraw &operator=(const RandomDraw &) = delete;

  DrawValue next();
  bool integer() const;       // the conversion yields integers
  zrand_stream *stream() const;
  int32_t init_status() const;  // what zrand_init answered

 private:
  struct Impl;
  explicit RandomDraw(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// Conversion names accepted by DrawRequest::conversion ("zrng_" prefixes and,
// for the double slots, the names without "double_" are accepted too).
std::vector<std::string> draw_conversion_names();

// What a method takes, from the method catalogue (rng/methods.def).  A
// stream option the method ignores is refused by RandomDraw::open, so every
// front end can say which methods take it.
struct MethodOptions {
  std::string_view name;         // canonical word
  int output_bits = 0;           // 32, 64 (31: RANUNI); 0: the hardware method
  bool seed = false;             // a seed selects the stream
  bool key = false;              // a key selects the stream
  bool thread = false;           // a thread number selects the stream
  bool position = false;         // the stream can be set to a position
  bool constant_without_key = false;  // key 0 and thread 0 repeat the seed
  uint64_t thread_max = 0;       // largest thread number told apart (0: none)
  uint64_t key_max = 0;          // largest key taken whole (0: none)
  std::string_view description;  // "" for none
};

// The options of a method word (its canonical name or an alias, any case),
// or null when no method has that word.
const MethodOptions *method_options(std::string_view word);
// Every method, in the order of rng::method_names().
std::span<const MethodOptions> all_method_options();
// The canonical names, in listing order, of the methods that take `option`
// (for example &MethodOptions::thread), joined with ", ".
std::string methods_taking(bool MethodOptions::*option);

// The listing zeq rand --list-methods prints: one line per method the loaded
// module builds, in listing order: name, word size, the options it takes,
// description, and a remark when it is constant without a key.
std::string method_listing(const Host &host);

// Canonical names of the methods the loaded module builds (one builder
// zrnf<NAME> each); the resolver also takes aliases such as MT or TF.
std::vector<std::string> draw_method_names(const Host &host);

// Names joined with ", " for messages.
std::string join_names(const std::vector<std::string> &names);

namespace rng {

// The conversions by name (the stream's default double, the raw 32- and
// 64-bit words, every double slot of the descriptor), for callers that fill
// whole buffers from a stream they hold themselves.
enum class DrawKind { U32, U64, Double };
struct Conversion {
  const char *name;  // "default", "uint32", "double_53_open_open", ...
  DrawKind kind;
  size_t offset;     // slot offset in zrng_desc; 0 for "default" (the stream's double_fn)
};
std::span<const Conversion> conversions();
// By name, case-insensitively; a "zrng_" prefix and, for the double slots,
// the "double_" prefix may be left out.  Null when unknown.
const Conversion *find_conversion(std::string_view name);
// Fills `out` (n values of uint32_t, uint64_t or double, by c.kind) from the
// stream.  Returns "" or, when the method lacks the slot, a sentence saying
// so (nothing drawn).
std::string draw(zrand_stream *s, const Conversion &c, void *out, size_t n);
// The canonical names of the generator methods (one builder zrnf<NAME> each).
std::span<const char *const> method_names();
// The same names in the order zeq rand lists them: the seeded legacy and
// hardware methods first, then the engines.
std::vector<const char *> listed_method_names();

}  // namespace rng

}  // namespace zeqhost
