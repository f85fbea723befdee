// tools/catalogue - the one reader of the catalogue.  Compiled from
// charfn/functions.def through charfn/catalogue.h, it prints every file (or
// part of a file) that follows from the rows:
//
//   zeqcatalogue exports            load/exports.map, the linker version script
//   zeqcatalogue entry-types        charfn/entry_types.h, the typed entries
//   zeqcatalogue readme-functions   README.md's function reference table
//   zeqcatalogue sql-names          README.md's table of SQL names
//   zeqcatalogue --write ROOT       rewrites all of them under ROOT
//   zeqcatalogue --check ROOT       exit status 1 when any of them is stale
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/catalogue/outputs.h"

namespace {

using zeqcat::Output;

std::string read_file(const std::string &path, bool *ok) {
  std::ifstream in(path, std::ios::binary);
  *ok = static_cast<bool>(in);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The text between the line `begin` and the line starting with `end`
// replaced by `body`; false when the markers are missing.
bool splice(std::string &text, std::string_view begin, std::string_view end, const std::string &body) {
  const size_t b = text.find(begin);
  if (b == std::string::npos) return false;
  const size_t from = text.find('\n', b);
  const size_t to = text.find(end, from);
  if (from == std::string::npos || to == std::string::npos) return false;
  text.replace(from + 1, to - from - 1, body);
  return true;
}

// Brings one output up to date under root (write) or compares it (check).
// Answers false when the file is stale (check) or cannot be handled.
bool refresh(const Output &o, const std::string &root, bool write) {
  const std::string path = root + "/" + std::string(o.file);
  bool ok = false;
  std::string old = read_file(path, &ok);
  std::string now = o.begin.empty() ? o.render() : old;
  if (!ok && !o.begin.empty()) return std::fprintf(stderr, "zeqcatalogue: cannot read %s\n", path.c_str()), false;
  if (!o.begin.empty() && !splice(now, o.begin, o.end, o.render()))
    return std::fprintf(stderr, "zeqcatalogue: %s lacks the markers of %s\n", path.c_str(), o.name.data()), false;
  if (ok && now == old) return true;
  if (!write) {
    std::fprintf(stderr, "zeqcatalogue: %s (%s) is stale; run zeqcatalogue --write .\n", path.c_str(), o.name.data());
    return false;
  }
  std::ofstream out(path, std::ios::binary);
  out << now;
  return static_cast<bool>(out);
}

int usage() {
  std::fputs("usage: zeqcatalogue exports | entry-types | readme-functions | sql-names\n"
             "       zeqcatalogue --write ROOT | --check ROOT\n",
             stderr);
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 3 && (!std::strcmp(argv[1], "--write") || !std::strcmp(argv[1], "--check"))) {
    bool all = true;
    for (const Output &o : zeqcat::outputs()) all = refresh(o, argv[2], argv[1][2] == 'w') && all;
    return all ? 0 : 1;
  }
  if (argc != 2) return usage();
  for (const Output &o : zeqcat::outputs())
    if (o.name == argv[1]) return std::fputs(o.render().c_str(), stdout) < 0;
  return usage();
}
