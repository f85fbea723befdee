// tests/exports_test.cc - the module's dynamic symbol table against
// load/exports.map: nothing is exported that the map does not list, and,
// once every family is in the build, everything the map lists is defined.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string module_path() {
  if (const char *p = std::getenv("ZEQ_MODULE")) return p;
  return std::string(ZEQ_BINARY_DIR) + "/libzeqwucha.so";
}

// Names between "global:" and "local:" of the version script.
std::set<std::string> listed_names() {
  std::ifstream in(std::string(ZEQ_SOURCE_DIR) + "/load/exports.map");
  std::stringstream all;
  all << in.rdbuf();
  std::string text = all.str();
  // Drop /* comments */.
  for (size_t a; (a = text.find("/*")) != std::string::npos;) {
    size_t b = text.find("*/", a);
    text.erase(a, b == std::string::npos ? std::string::npos : b + 2 - a);
  }
  size_t g = text.find("global:"), l = text.find("local:");
  std::set<std::string> names;
  if (g == std::string::npos || l == std::string::npos) return names;
  std::stringstream body(text.substr(g + 7, l - g - 7));
  std::string item;
  while (std::getline(body, item, ';')) {
    size_t s = item.find_first_not_of(" \t\r\n"), e = item.find_last_not_of(" \t\r\n");
    if (s != std::string::npos) names.insert(item.substr(s, e - s + 1));
  }
  return names;
}

// Defined dynamic symbols of the module, from nm.
std::set<std::string> defined_names(bool *ok) {
  std::set<std::string> names;
  std::string cmd = "nm -D --defined-only '" + module_path() + "' 2>/dev/null";
  FILE *p = popen(cmd.c_str(), "r");
  *ok = p != nullptr;
  if (!p) return names;
  char line[512];
  while (std::fgets(line, sizeof line, p)) {
    std::stringstream ls(line);
    std::string addr, type, name;
    if (!(ls >> addr >> type >> name)) continue;
    size_t at = name.find('@');  // versioned names
    if (at != std::string::npos) name.resize(at);
    names.insert(name);
  }
  *ok = pclose(p) == 0 && !names.empty();
  return names;
}

TEST(Exports, MapListsTheExpectedGroups) {
  std::set<std::string> listed = listed_names();
  ASSERT_GT(listed.size(), 250u);
  for (const char *n : {"mcn_main", "zeqwucha", "fnccatx", "xpmlog", "skMemScan", "zstripn", "tknrstol"})
    EXPECT_EQ(listed.count(n), 1u) << n;
}

TEST(Exports, EveryExportedNameIsListed) {
  bool ok = false;
  std::set<std::string> defined = defined_names(&ok);
  ASSERT_TRUE(ok) << "cannot read the symbols of " << module_path();
  std::set<std::string> listed = listed_names();
  std::string extra;
  for (const std::string &n : defined)
    if (!listed.count(n)) extra += " " + n;
  EXPECT_TRUE(extra.empty()) << "exported but not listed:" << extra;
}

TEST(Exports, EveryListedNameIsDefined) {
  bool ok = false;
  std::set<std::string> defined = defined_names(&ok);
  ASSERT_TRUE(ok);
  std::string missing;
  for (const std::string &n : listed_names())
    if (!defined.count(n)) missing += " " + n;
  EXPECT_TRUE(missing.empty()) << "listed but not defined:" << missing;
}

}  // namespace
