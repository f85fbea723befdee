// tools/zeq/rand.h - `zeq rand`: draws from a random stream as a host does, a
// buffer of values at a time, writing each buffer as soon as it is full.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/host.h"
#include "tools/zeq/output.h"

namespace zeqtool {

struct RandOptions {
  std::string method;           // method word (empty: setting or default)
  uint64_t seed = 0;            // integer seed (0 draws one)
  uint64_t key = 0;
  uint64_t thread = 0;
  std::string seed_double;      // seed requested as a double
  std::string key_double;       // key requested as a double
  std::string position;         // counter-based methods: position before drawing
  uint64_t count = 5;
  std::string as = "default";   // slot to draw through
  bool binary = false;          // raw little-endian words instead of text lines
  bool info = false;            // print method, seed, status and the macros
  bool dump = false;            // dump the state blob the way the journal shows it
};

// Draws to `out`; a problem is a sentence in err and exit status 2 (a write
// that fails stops the draw; the caller reports it).
int run_rand(zeqhost::Host &host, const RandOptions &opt, Output &out, std::string &err);

// Names accepted by --as.
std::vector<std::string> rand_slot_names();

// One line per generator method: name, word size in bits, description.
std::string rand_method_list(zeqhost::Host &host);

}  // namespace zeqtool
