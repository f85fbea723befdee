// tools/zeq/rand.h - `zeq rand`: draws from a random stream as a host does.
#pragma once

#include <string>
#include <vector>

#include "host/host.h"

namespace zeqtool {

struct RandOptions {
  std::string method;           // method word (empty: setting or default)
  std::string seed = "0";       // integer seed (0 draws one)
  std::string key = "0";
  std::string thread = "0";
  std::string seed_double;      // seed requested as a double
  std::string key_double;       // key requested as a double
  std::string position;         // counter-based methods: position before drawing
  long long count = 5;
  std::string as = "default";   // slot to draw through
  bool info = false;            // print method, seed, status and the macros
  bool dump = false;            // dump the state blob the way the journal shows it
};

// Runs the draw; lines for stdout go to out, problems to err.  Returns the
// exit status (0 ok, 2 usage).
int run_rand(zeqhost::Host &host, const RandOptions &opt, std::vector<std::string> &out, std::string &err);

// Names accepted by --as.
std::vector<std::string> rand_slot_names();

}  // namespace zeqtool
