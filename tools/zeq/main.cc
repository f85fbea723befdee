// zeq - evaluates character-function calls, call routines and random-stream
// draws by loading the module through the reference host, as a host would.
//
//   zeq [options] 'EXPR' ['EXPR' ...]     (or one EXPR per line on stdin)
//   zeq rand [rand options]
//
// Results go to stdout, the host's log (notes, warnings) to stderr.
// Exit status: 0 all calls returned OK, 1 a call returned a note or another
// non-zero status, 2 a usage or parse error.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "tools/zeq/parser.h"
#include "tools/zeq/rand.h"
#include "tools/zeq/registry.h"
#include "tools/zeq/session.h"

using namespace zeqtool;

namespace {

const char kUsage[] =
    "usage: zeq [options] 'FUNCTION(args)' ...   (or statements on stdin, one per line)\n"
    "       zeq rand [--method M] [--seed N] [--key N] [--thread N] [--count N] [--as SLOT]\n"
    "                [--seed-double X] [--key-double X] [--position A] [--info] [--dump]\n"
    "\n"
    "Statements:  NAME(arg, ...)   or   CALL NAME(arg, ...)\n"
    "  arguments: 'text' or \"text\" (a doubled quote stands for one), numbers, . (missing),\n"
    "             or a variable defined with --char / --num\n"
    "Options:\n"
    "  --length N          declared length of character results and variables (default 200)\n"
    "  --growable          character results grow through an allocator (up to --length)\n"
    "  --char NAME=TEXT    define a character variable (alias: --target)\n"
    "  --num NAME=NUMBER   define a numeric variable\n"
    "  --encoding E        latin1 (default) or utf-8 (multibyte route)\n"
    "  --varchar           pass string arguments as varying-length values\n"
    "  --kind K            resultKind byte of the call sites (e.g. 0x58)\n"
    "  --repeat N          execute each call site N times (notes are counted per site)\n"
    "  --set NAME=VALUE    store a setting as text (numbers under tkbug.* as doubles)\n"
    "  --set-double NAME=X, --set-int NAME=N   store a setting with that type\n"
    "  --option N=TEXT     host option text (4163 debug options, 4429 naming mode)\n"
    "  --show-log LEVEL    journal lines shown: all, info, note (default), warning, error, none\n"
    "  --module PATH       the module to load (default: the built libzeqwucha.so)\n"
    "  --list              list the functions\n";

bool split_assign(const std::string &s, std::string &name, std::string &value) {
  auto eq = s.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  name = s.substr(0, eq);
  value = s.substr(eq + 1);
  return true;
}

std::string upper(std::string s) {
  for (auto &c : s) c = (char)std::toupper((unsigned char)c);
  return s;
}

int usage_error(const std::string &m) {
  std::fprintf(stderr, "zeq: %s\n(zeq --help for usage)\n", m.c_str());
  return 2;
}

int log_level(const std::string &w, bool &none) {
  std::string u = upper(w);
  none = u == "NONE";
  if (u == "ALL") return 0;
  if (u == "INFO") return 1;
  if (u == "NOTE" || u == "NOTES") return 2;
  if (u == "WARN" || u == "WARNING" || u == "WARNINGS") return 3;
  if (u == "ERROR" || u == "ERRORS") return 4;
  if (u == "NONE") return 99;
  if (!u.empty() && std::isdigit((unsigned char)u[0])) return std::atoi(u.c_str());
  return -1;
}

// Checks that `session` loaded the module and gives it the --set pairs (a
// tkbug.* setting with a numeric value as a number, the rest as text);
// answers 0, or exit status 2 when the module did not load.
int open_session(Session &session, const std::vector<std::pair<std::string, std::string>> &sets) {
  if (!session.ready()) {
    std::fprintf(stderr, "zeq: cannot load the module: %s\n", session.load_error().c_str());
    return 2;
  }
  for (auto &[n, val] : sets) {
    if (n.rfind("tkbug.", 0) == 0 && parse_number(val)) session.set_setting_double(n, *parse_number(val));
    else session.set_setting_text(n, val);
  }
  return 0;
}

int run_rand_main(int argc, char **argv, int i, SessionOptions so,
                  std::vector<std::pair<std::string, std::string>> sets) {
  RandOptions ro;
  for (; i < argc; i++) {
    std::string a = argv[i];
    auto need = [&](const char *what) -> const char * {
      if (i + 1 >= argc) return nullptr;
      (void)what;
      return argv[++i];
    };
    const char *v = nullptr;
    if (a == "--info") ro.info = true;
    else if (a == "--dump") ro.dump = true;
    else if (a == "--list-slots") {
      for (auto &n : rand_slot_names()) std::puts(n.c_str());
      return 0;
    } else if (a == "--method" && (v = need("method"))) ro.method = v;
    else if (a == "--seed" && (v = need("seed"))) ro.seed = v;
    else if (a == "--key" && (v = need("key"))) ro.key = v;
    else if (a == "--thread" && (v = need("thread"))) ro.thread = v;
    else if (a == "--seed-double" && (v = need("x"))) ro.seed_double = v;
    else if (a == "--key-double" && (v = need("x"))) ro.key_double = v;
    else if (a == "--position" && (v = need("a"))) ro.position = v;
    else if (a == "--as" && (v = need("slot"))) ro.as = v;
    else if (a == "--count" && (v = need("n"))) ro.count = std::atoll(v);
    else if (a == "--set" && (v = need("setting"))) {
      std::string n, val;
      if (!split_assign(v, n, val)) return usage_error("--set wants NAME=VALUE");
      sets.push_back({n, val});
    } else if (a == "--show-log" && (v = need("level"))) {
      bool none = false;
      int l = log_level(v, none);
      if (l < 0) return usage_error("unknown log level " + std::string(v));
      so.log_threshold = l;
      so.log_none = none;
    } else
      return usage_error("unknown or incomplete rand option " + a);
  }
  Session session(so);
  if (const int rc = open_session(session, sets)) return rc;
  std::vector<std::string> out;
  std::string err;
  int rc = run_rand(session.host(), ro, out, err);
  for (auto &l : session.take_log()) std::fprintf(stderr, "%s\n", l.c_str());
  for (auto &l : out) std::printf("%s\n", l.c_str());
  if (rc) std::fprintf(stderr, "zeq: %s\n", err.c_str());
  return rc;
}

}  // namespace

int main(int argc, char **argv) {
  SessionOptions so;
  std::vector<std::pair<std::string, std::string>> chars, nums, sets, set_doubles, set_ints, options;
  std::vector<std::string> statements;
  int i = 1;
  for (; i < argc; i++) {
    std::string a = argv[i];
    auto value = [&](std::string &out) -> bool {
      auto eq = a.find('=');
      if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
        out = a.substr(eq + 1);
        a = a.substr(0, eq);
        return true;
      }
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "rand" && statements.empty()) {
      // options given before `rand` (--module, --encoding, --show-log) still apply
      return run_rand_main(argc, argv, i + 1, so, sets);
    }
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "--list") {
      for (const auto &f : functions()) std::printf("%-10s %s\n", f.name, f.usage);
      return 0;
    }
    if (a == "--growable") { so.growable = true; continue; }
    if (a == "--varchar") { so.varchar = true; continue; }
    if (a.rfind("--", 0) == 0) {
      std::string key = a.substr(0, a.find('='));
      if (!value(v)) return usage_error("option " + key + " needs a value");
      std::string n, val;
      if (key == "--length") {
        so.length = std::atoll(v.c_str());
        if (so.length < 0) return usage_error("--length must be 0 or more");
      } else if (key == "--char" || key == "--target") {
        if (!split_assign(v, n, val)) return usage_error(key + " wants NAME=TEXT");
        chars.push_back({upper(n), val});
      } else if (key == "--num") {
        if (!split_assign(v, n, val)) return usage_error("--num wants NAME=NUMBER");
        nums.push_back({upper(n), val});
      } else if (key == "--encoding") {
        std::string e = upper(v);
        if (e == "UTF-8" || e == "UTF8") so.utf8 = true;
        else if (e == "LATIN1" || e == "LATIN-1" || e == "ISO-8859-1") so.utf8 = false;
        else return usage_error("unknown encoding " + v + " (latin1 or utf-8)");
      } else if (key == "--kind") {
        so.result_kind = (int)std::strtol(v.c_str(), nullptr, 0);
      } else if (key == "--repeat") {
        so.repeat = std::atoi(v.c_str());
      } else if (key == "--set") {
        if (!split_assign(v, n, val)) return usage_error("--set wants NAME=VALUE");
        sets.push_back({n, val});
      } else if (key == "--set-double") {
        if (!split_assign(v, n, val)) return usage_error("--set-double wants NAME=NUMBER");
        set_doubles.push_back({n, val});
      } else if (key == "--set-int") {
        if (!split_assign(v, n, val)) return usage_error("--set-int wants NAME=INTEGER");
        set_ints.push_back({n, val});
      } else if (key == "--option") {
        if (!split_assign(v, n, val)) return usage_error("--option wants NUMBER=TEXT");
        options.push_back({n, val});
      } else if (key == "--show-log") {
        bool none = false;
        int l = log_level(v, none);
        if (l < 0) return usage_error("unknown log level " + v);
        so.log_threshold = l;
        so.log_none = none;
      } else if (key == "--module") {
        so.module_path = v;
      } else {
        return usage_error("unknown option " + key);
      }
      continue;
    }
    statements.push_back(a);
  }

  Session session(so);
  if (const int rc = open_session(session, sets)) return rc;
  for (auto &[n, val] : set_doubles) {
    auto x = parse_number(val);
    if (!x) return usage_error("--set-double " + n + ": not a number");
    session.set_setting_double(n, *x);
  }
  for (auto &[n, val] : set_ints) session.set_setting_int(n, std::atoll(val.c_str()));
  for (auto &[n, val] : options) session.host().set_option(std::atoi(n.c_str()), val);
  for (auto &[n, val] : chars) session.define_char(n, val);
  for (auto &[n, val] : nums) {
    if (val == ".") {
      session.define_num(n, std::nan(""));
      continue;
    }
    auto x = parse_number(val);
    if (!x) return usage_error("--num " + n + ": not a number");
    session.define_num(n, *x);
  }

  bool from_stdin = statements.empty();
  int exit_status = 0;
  auto run_one = [&](const std::string &text) {
    Outcome o = session.run_text(text);
    for (auto &l : o.log) std::fprintf(stderr, "%s\n", l.c_str());
    if (!o.ok) {
      std::fprintf(stderr, "zeq: %s\n  in: %s\n", o.error.c_str(), text.c_str());
      exit_status = 2;
      return;
    }
    for (auto &l : o.output) std::printf("%s\n", l.c_str());
    if (o.status != 0) {
      std::fprintf(stderr, "zeq: status 0x%08X\n", (unsigned)o.status);
      if (exit_status == 0) exit_status = 1;
    }
    std::fflush(stdout);
  };
  if (from_stdin) {
    std::string line;
    while (std::getline(std::cin, line)) {
      size_t b = line.find_first_not_of(" \t\r");
      if (b == std::string::npos || line[b] == '#') continue;
      run_one(line);
    }
  } else {
    for (auto &s : statements) run_one(s);
  }
  return exit_status;
}
