// A function added in a scratch build: one catalogue row (given here through
// ZEQ_CATALOGUE_EXTRA_ROW, the hook at the end of charfn/functions.def) and
// one source defining its entry and twin.  The catalogue tool, compiled with
// that row, prints it into the exports map, the typed entries and both README
// tables, and the module's consumers (the entry prototypes, the function
// table) compile with it unchanged.  The hostile-block and out-of-memory
// tests loop over the catalogue, so they would cover it as well.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

const std::string kSource = ZEQ_SOURCE_DIR;

const char *kRow =
    "#define ZEQ_CATALOGUE_EXTRA_ROW ZEQ_FUNCTION(ZZROW, 0, 0, fnczzrow, ZZROW_FUNCTION, Number, 1, 1, \"2\", "
    "\"string\", \"string: any text\", -1, \"\", ZEQ_FN_FUNCTION, \"\", \"a row of a scratch build\", "
    "\"ZZROW(\\\"a\\\") => 1\", \"\")\n";

const char *kEntry =
    "#include \"charfn/entries.h\"\n"
    "ZEQ_EXPORT int32_t fnczzrow(FncArgList *, double *result) noexcept { return *result = 1, 0; }\n"
    "ZEQ_EXPORT int32_t ZZROW_FUNCTION(FncArgList *, double *result, ZeqStringService *, int32_t,\n"
    "                                  const char *) noexcept { return *result = 1, 0; }\n";

struct Scratch {
  std::string dir;
  Scratch() {
    char tmpl[] = "/tmp/zeq-row-XXXXXX";
    dir = mkdtemp(tmpl) ? tmpl : "";
    write("row.h", kRow);
    write("entry.cc", kEntry);
  }
  ~Scratch() { std::system(("rm -rf '" + dir + "'").c_str()); }
  void write(const std::string &name, const std::string &text) const { std::ofstream(dir + "/" + name) << text; }
  std::string read(const std::string &name) const {
    std::ostringstream s;
    s << std::ifstream(dir + "/" + name).rdbuf();
    return s.str();
  }
  // Runs the compiler with the extra row on `args`; answers its status.
  int compile(const std::string &args) const {
    const std::string cmd = "c++ -std=c++20 -w -include '" + dir + "/row.h' -I'" + kSource + "' -I'" + kSource +
                            "/include' " + args + " 2>'" + dir + "/errors'";
    return std::system(cmd.c_str());
  }
};

TEST(CatalogueRow, OneRowReachesEveryGeneratedFileAndConsumer) {
  Scratch s;
  ASSERT_FALSE(s.dir.empty());
  ASSERT_EQ(s.compile("-fsyntax-only '" + s.dir + "/entry.cc' '" + kSource + "/load/function_table.cc'"), 0)
      << s.read("errors");
  ASSERT_EQ(s.compile("-O0 '" + kSource + "'/tools/catalogue/*.cc -o '" + s.dir + "/zeqcatalogue'"), 0) << s.read("errors");
  const struct {
    const char *output, *expect;
  } kWants[] = {
      {"exports", "    fnczzrow;\n"},
      {"exports", "    ZZROW_FUNCTION;\n"},
      {"entry-types", "struct ZZROW {"},
      {"entry-types", "using MbFn = MbNumberEntry;"},
      {"readme-functions", "| ZZROW | `ZZROW(string)` | a row of a scratch build |"},
      {"sql-names", "| `zzrow(string)` | 1 | number | characters | in UTF-8 | a row of a scratch build |"},
  };
  for (const auto &w : kWants) {
    const std::string out = s.dir + "/" + w.output;
    ASSERT_EQ(std::system(("'" + s.dir + "/zeqcatalogue' " + w.output + " >'" + out + "'").c_str()), 0);
    EXPECT_NE(s.read(w.output).find(w.expect), std::string::npos) << w.output << " lacks " << w.expect;
  }
}

}  // namespace
