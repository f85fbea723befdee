// zeq - evaluates character-function calls, applies them to CSV files, and
// draws from random streams, loading the module through the reference host
// as a host would.
//
//   zeq [options] 'EXPR' ['EXPR' ...]     (or one EXPR per line on stdin)
//   zeq batch [options] FILE|- 'NAME=EXPR' ...
//   zeq rand [rand options]
//   zeq help [NAME]
//
// Results go to stdout (or --output FILE), messages to stderr.  Exit status:
// 0 every call returned OK, 1 a call returned a note or an error, 2 a usage or
// parse error, or output that could not be written (every write is checked).
#include <CLI/CLI.hpp>

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/zeq/batch.h"
#include "tools/zeq/help.h"
#include "tools/zeq/output.h"
#include "tools/zeq/parser.h"
#include "tools/zeq/rand.h"
#include "tools/zeq/registry.h"
#include "tools/zeq/session.h"

using namespace zeqtool;

namespace {

// The longest declared length zeq accepts: the longest character variable a
// host program declares.  --char variables are padded to the declared length.
constexpr int64_t kMaxLength = 32767;
constexpr int kMaxRepeat = 1000000;

const char kStatementHelp[] =
    "Statements:  NAME(arg, ...)   or   CALL NAME(arg, ...)   ('#' starts a comment)\n"
    "  arguments: 'text' or \"text\" (a doubled quote stands for one), numbers, . (missing),\n"
    "             or a variable defined with --char / --num\n"
    "  One output line per statement; a failed statement writes an empty line and its\n"
    "  message, beginning 'line N:', on stderr.\n"
    "Exit status: 0 every call OK, 1 a call returned a note or an error, 2 usage or parse error\n"
    "(a wrong argument count or type too) or output that could not be written.\n"
    "zeq help lists the functions, zeq help NAME describes one; build/zeq is the binary for\n"
    "scripts and loops.";

struct Options {
  SessionOptions session;
  std::string encoding = "utf-8";
  std::string show_log = "note";
  std::string output;  // --output FILE; empty: stdout
  std::vector<std::string> chars, nums, sets, set_doubles, set_ints, host_options, statements;
};

// NAME=VALUE with a non-empty name.
const CLI::Validator kAssignment(
    [](std::string &s) -> std::string { return s.find('=') == 0 || s.find('=') == std::string::npos ? "wants NAME=VALUE" : ""; },
    "NAME=VALUE");

// A whole number from lo to hi, decimal or hexadecimal after 0x; the text is
// rewritten in decimal for the conversion that follows.
CLI::Validator whole_number(uint64_t lo, uint64_t hi) {
  return CLI::Validator(
      [lo, hi](std::string &s) -> std::string {
        const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
        const char *b = s.data() + (hex ? 2 : 0), *e = s.data() + s.size();
        uint64_t v = 0;
        auto r = std::from_chars(b, e, v, hex ? 16 : 10);
        if (b == e || r.ec != std::errc() || r.ptr != e || v < lo || v > hi)
          return "'" + s + "' is not a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
        s = std::to_string(v);
        return "";
      },
      "N");
}

std::pair<std::string, std::string> split_assign(const std::string &s) {
  auto eq = s.find('=');
  return {s.substr(0, eq), s.substr(eq + 1)};
}

int usage_error(const std::string &m) {
  std::fprintf(stderr, "zeq: %s\n(zeq --help for usage)\n", m.c_str());
  return 2;
}

// Journal level of a --show-log word; -1 for an unknown word.
int log_level(const std::string &w, bool &none) {
  const std::string u = upper(w);
  none = u == "NONE";
  const std::pair<const char *, int> levels[] = {{"ALL", 0},     {"INFO", 1},    {"NOTE", 2},     {"NOTES", 2},
                                                 {"WARN", 3},    {"WARNING", 3}, {"WARNINGS", 3}, {"ERROR", 4},
                                                 {"ERRORS", 4},  {"NONE", 99}};
  for (auto &[word, level] : levels)
    if (u == word) return level;
  return -1;
}

void add_common_options(CLI::App &app, Options &o) {
  auto &so = o.session;
  app.add_option("--length", so.length,
                 "declared length of character results and variables, 1 to 32767 (the longest character "
                 "variable a host program declares; --char variables are padded to it); results take only "
                 "the room they need")
      ->check(whole_number(1, kMaxLength))
      ->capture_default_str();
  app.add_flag("--growable", so.growable,
               "character results grow through an allocator as far as they need (up to 2147483647 bytes)");
  app.add_option("--char,--target", o.chars, "define a character variable")->allow_extra_args(false)->check(kAssignment)->type_name("NAME=TEXT");
  app.add_option("--encoding", o.encoding, "utf-8 (default; the multibyte route) or latin1 (the byte route)")
      ->check(CLI::IsMember({"latin1", "latin-1", "iso-8859-1", "utf-8", "utf8"}, CLI::ignore_case));
  app.add_flag("--varchar", so.varchar, "pass string arguments as varying-length values");
  app.add_option("--kind", so.result_kind, "resultKind byte of the call sites, 0 to 255 (e.g. 0x58)")
      ->check(whole_number(0, 255));
  app.add_option("--repeat", so.repeat, "execute each call site N times, 1 to 1000000 (notes are counted per site)")
      ->check(whole_number(1, kMaxRepeat));
  app.add_option("--set", o.sets, "store a setting as text (numbers under tkbug.* as doubles)")
      ->allow_extra_args(false)->check(kAssignment)->type_name("NAME=VALUE");
  app.add_option("--set-double", o.set_doubles, "store a setting as a double")->allow_extra_args(false)->check(kAssignment)->type_name("NAME=X");
  app.add_option("--set-int", o.set_ints, "store a setting as an integer")->allow_extra_args(false)->check(kAssignment)->type_name("NAME=N");
  app.add_option("--option", o.host_options, "host option text (4163 debug options, 4429 naming mode)")
      ->allow_extra_args(false)->check(kAssignment)->type_name("N=TEXT");
  app.add_option("--show-log", o.show_log, "journal lines shown: all, info, note (default), warning, error, none")
      ->check(CLI::IsMember({"all", "info", "note", "notes", "warn", "warning", "warnings", "error", "errors", "none"},
                            CLI::ignore_case));
  app.add_option("--module", so.module_path, "the module to load (default: the built libzeqwucha.so)");
  app.add_option("--output,-o", o.output, "write the results to FILE instead of stdout")->type_name("FILE");
}

// Checks that `session` loaded the module and gives it the settings and host
// options; answers 0, or exit status 2.
int open_session(Session &session, const Options &o) {
  if (!session.ready()) {
    std::fprintf(stderr, "zeq: cannot load the module: %s\n", session.load_error().c_str());
    return 2;
  }
  for (auto &s : o.sets) {
    auto [n, val] = split_assign(s);
    if (n.rfind("tkbug.", 0) == 0 && parse_number(val)) session.set_setting_double(n, *parse_number(val));
    else session.set_setting_text(n, val);
  }
  for (auto &s : o.set_doubles) {
    auto [n, val] = split_assign(s);
    auto x = parse_number(val);
    if (!x) return usage_error("--set-double " + n + ": '" + val + "' is not a number");
    session.set_setting_double(n, *x);
  }
  for (auto &s : o.set_ints) {
    auto [n, val] = split_assign(s);
    auto x = parse_number(val);
    if (!x || *x != std::trunc(*x) || std::fabs(*x) > 9.0e15)
      return usage_error("--set-int " + n + ": '" + val + "' is not a whole number");
    session.set_setting_int(n, (int64_t)*x);
  }
  for (auto &s : o.host_options) {
    auto [n, val] = split_assign(s);
    auto x = parse_number(n);
    if (!x || *x != std::trunc(*x) || *x < 0 || *x > 1e9) return usage_error("--option wants NUMBER=TEXT");
    session.host().set_option((int)*x, val);
  }
  return 0;
}

// Session options that the parsed words decide.
void finish_options(Options &o) {
  const std::string e = upper(o.encoding);
  o.session.utf8 = e == "UTF-8" || e == "UTF8";
  bool none = false;
  o.session.log_threshold = log_level(o.show_log, none);
  o.session.log_none = none;
}

// Prints a statement's output as one line and its messages; answers its exit status.
int report(const Outcome &out, size_t line, Output &sink) {
  for (auto &l : out.log) std::fprintf(stderr, "%s\n", l.c_str());
  std::string text;
  for (auto &l : out.output) text += (text.empty() ? "" : " ") + l;
  if (!out.ok) text.clear();
  text.push_back('\n');
  if (!sink.write(text) || !sink.flush()) return 2;
  if (!out.error.empty()) std::fprintf(stderr, "zeq: line %zu: %s\n", line, out.error.c_str());
  if (!out.ok && out.usage) return 2;
  return out.ok && out.status == 0 && !out.noted ? 0 : 1;
}

int run_statements(Options &o, Output &sink) {
  o.session.keep_log = false;  // each call's lines come with its outcome
  Session session(o.session);
  if (const int rc = open_session(session, o)) return rc;
  for (auto &s : o.chars) {
    auto [n, val] = split_assign(s);
    session.define_char(upper(n), val);
  }
  for (auto &s : o.nums) {
    auto [n, val] = split_assign(s);
    auto x = parse_number(val);
    if (!x && val != ".") return usage_error("--num " + n + ": '" + val + "' is not a number");
    session.define_num(upper(n), x ? *x : std::nan(""));
  }
  int status = 0;
  auto run_one = [&](const std::string &text, size_t line) {
    status = std::max(status, report(session.run_text(text), line, sink));
  };
  if (!o.statements.empty()) {
    for (size_t i = 0; i < o.statements.size() && !sink.failed(); i++) run_one(o.statements[i], i + 1);
    return status;
  }
  std::string line;
  for (size_t n = 1; !sink.failed() && std::getline(std::cin, line); n++) {
    size_t b = line.find_first_not_of(" \t\r");
    if (b == std::string::npos || line[b] == '#') continue;
    run_one(line, n);
  }
  return status;
}

struct RandCli {
  RandOptions opt;
  std::string format = "text";
  bool list_slots = false, list_methods = false;
};

void add_rand(CLI::App &app, RandCli &r) {
  auto &o = r.opt;
  app.add_option("--method", o.method, "generator method (--list-methods shows them)");
  constexpr uint64_t kMax64 = ~uint64_t{0};
  app.add_option("--seed", o.seed, "integer seed, 0 draws one")->check(whole_number(0, kMax64));
  app.add_option("--key", o.key, "key (methods that take one)")->check(whole_number(0, kMax64));
  app.add_option("--thread", o.thread, "thread number (counter-based methods)")->check(whole_number(0, kMax64));
  app.add_option("--count", o.count, "values to draw, 0 to 2^63-1 (default 5)")->check(whole_number(0, kMax64 >> 1));
  app.add_option("--as", o.as, "slot drawn through (--list-slots shows them; default: the stream's conversion)");
  app.add_option("--seed-double", o.seed_double, "seed given as a double");
  app.add_option("--key-double", o.key_double, "key given as a double");
  app.add_option("--position", o.position, "position of a counter-based method before drawing");
  app.add_option("--format", r.format, "text (one value a line) or binary (raw little-endian words)")
      ->check(CLI::IsMember({"text", "binary"}));
  app.add_flag("--info", o.info, "print method, seed, status and the SYSRANDOM/SYSRANEND macros");
  app.add_flag("--dump", o.dump, "dump the state the way the journal shows it");
  app.add_flag("--list-slots", r.list_slots, "list the slots --as accepts");
  app.add_flag("--list-methods", r.list_methods, "list the methods: name, word size, options, description");
}

// Whether the module wrote an ERROR line to the journal since line `from`.
bool journal_error(const zeqhost::Host &host, size_t from) {
  const auto &log = host.log();
  for (size_t i = from; i < log.size(); i++)
    if (log[i].level >= 4) return true;
  return false;
}

int run_rand_main(Options &o, RandCli &r, Output &sink) {
  if (r.list_slots) {
    for (auto &n : rand_slot_names()) sink.write(n + "\n");
    return 0;
  }
  Session session(o.session);
  if (const int rc = open_session(session, o)) return rc;
  if (r.list_methods) {
    sink.write(rand_method_list(session.host()));
    return 0;
  }
  r.opt.binary = r.format == "binary";
  std::string err;
  const size_t log_start = session.host().log().size();
  int rc = run_rand(session.host(), r.opt, sink, err);
  sink.flush();
  for (auto &l : session.take_log()) std::fprintf(stderr, "%s\n", l.c_str());
  if (rc) std::fprintf(stderr, "zeq: %s\n", err.c_str());
  if (!rc && journal_error(session.host(), log_start)) rc = 1;  // a stream set up with an error
  return rc;
}

struct BatchCli {
  BatchOptions opt;
  std::string on_error = "stop";
  std::string delimiter;
  bool tsv = false, progress = false, no_progress = false;
};

void add_batch(CLI::App &app, BatchCli &b) {
  auto &o = b.opt;
  app.add_flag("--tsv", b.tsv, "TSV input and output: fields split on tabs, no quoting, \\t \\n \\r \\\\ escapes");
  app.add_option("--delimiter", b.delimiter, "the field separator of CSV, one character (default ,)")->type_name("C");
  app.add_flag("--no-header", o.no_header, "the input has no header row: its columns are c1, c2, ...; none is written");
  app.add_option("--jobs", o.jobs, "threads, 1 to 256 (default: one per core)")->check(whole_number(1, 256));
  auto *p = app.add_flag("--progress", b.progress, "show a progress bar on stderr even when it is not a terminal");
  app.add_flag("--no-progress", b.no_progress, "never show a progress bar")->excludes(p);
  app.add_option("--on-error", b.on_error, "a row whose call fails: stop (default, exit 1), skip it, or empty result")
      ->check(CLI::IsMember({"stop", "skip", "empty"}));
  app.add_option("--num", o.numeric, "a column whose values are numbers (empty: missing)")->allow_extra_args(false)->type_name("COLUMN");
  app.add_option("input", o.input, "CSV or TSV file, or - for stdin")->required();
  app.add_option("columns", o.specs, "'NAME=EXPRESSION' new columns; a leading 'CALL ...' runs once per worker")
      ->required();
}

// The dialect the options ask for; "" or why they do not fit.
std::string batch_dialect(const BatchCli &b, Dialect &d) {
  d.tsv = b.tsv;
  d.delimiter = b.tsv ? '\t' : ',';
  if (b.delimiter.empty()) return "";
  const std::string w = b.delimiter == "\\t" || upper(b.delimiter) == "TAB" ? "\t" : b.delimiter;
  if (w.size() != 1 || w[0] == '"' || w[0] == '\n' || w[0] == '\r' || w[0] == '\\')
    return "--delimiter wants one character other than a quote, a backslash or a line break, got '" + b.delimiter + "'";
  if (b.tsv && w[0] != '\t') return "--delimiter: TSV fields are split on tabs (leave out --tsv for another separator)";
  d.delimiter = w[0];
  return "";
}

int run_batch_main(Options &o, BatchCli &b, Output &sink) {
  if (std::string err = batch_dialect(b, b.opt.dialect); !err.empty()) return usage_error(err);
  o.session.keep_log = false;
  Session session(o.session);
  if (const int rc = open_session(session, o)) return rc;
  auto &opt = b.opt;
  opt.on_error = b.on_error == "skip"    ? BatchOptions::OnError::Skip
                 : b.on_error == "empty" ? BatchOptions::OnError::Empty
                                         : BatchOptions::OnError::Stop;
  opt.progress = b.progress      ? BatchOptions::Progress::On
                 : b.no_progress ? BatchOptions::Progress::Off
                                 : BatchOptions::Progress::Auto;
  if (!opt.jobs) opt.jobs = std::max(1u, std::thread::hardware_concurrency());
  opt.length = o.session.length;
  opt.growable = o.session.growable;
  opt.result_kind = o.session.result_kind;
  opt.utf8 = o.session.utf8;
  opt.varchar = o.session.varchar;
  return run_batch(session.host(), opt, sink);
}

int run_help(const std::string &name, Output &sink) {
  if (name.empty()) {
    sink.write(function_list());
    return 0;
  }
  const std::string text = function_help(name);
  if (text.empty()) return usage_error("no function is called " + name + " (zeq help lists them)");
  sink.write(text);
  return 0;
}

bool same_file(const std::string &a, const std::string &b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The stream --output names (stdout without one); null with the exit status
// in `rc` when it cannot be opened or would overwrite the input.
std::FILE *open_output(const Options &o, const std::string &input, int &rc) {
  if (o.output.empty() || o.output == "-") return stdout;
  if (!input.empty() && input != "-" && same_file(o.output, input)) {
    rc = usage_error("--output " + o.output + " is the input file; it would be overwritten before it is read");
    return nullptr;
  }
  std::FILE *f = std::fopen(o.output.c_str(), "wb");
  if (!f) rc = usage_error("--output: cannot open " + o.output + " for writing: " + std::strerror(errno));
  return f;
}

}  // namespace

int main(int argc, char **argv) {
  std::signal(SIGPIPE, SIG_DFL);  // a closed pipe ends zeq quietly
  CLI::App app{"zeq - the module's character functions and random streams from the command line", "zeq"};
  app.footer(kStatementHelp);
  app.set_version_flag("--version", std::string("zeq ") + ZEQ_VERSION);
  app.fallthrough();
  Options o;
  add_common_options(app, o);
  app.add_option("--num", o.nums, "define a numeric variable (. for missing)")->allow_extra_args(false)->check(kAssignment)->type_name("NAME=NUMBER");
  bool list = false;
  app.add_flag("--list", list, "list the functions (as zeq help)");
  app.add_option("statements", o.statements, "statements to run, one output line each (none: read stdin)");

  RandCli rand;
  add_rand(*app.add_subcommand("rand", "draw from a random stream, writing each value as it is drawn"), rand);
  BatchCli batch;
  add_batch(*app.add_subcommand("batch", "add NAME=EXPRESSION columns to every row of a CSV file"), batch);
  std::string help_name;
  auto *help = app.add_subcommand("help", "list the functions, or describe one");
  help->add_option("name", help_name, "function name");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    return usage_error(e.what());
  }
  finish_options(o);
  const char *command = list || help->parsed() ? "help" : app.got_subcommand("rand") ? "rand" : nullptr;
  if (command && !o.statements.empty())
    return usage_error(std::string("zeq ") + command + " takes no further words, got '" + o.statements.front() + "'");
  int status = 0;
  std::FILE *file = open_output(o, app.got_subcommand("batch") ? batch.opt.input : "", status);
  if (!file) return status;
  Output sink(file);
  status = list || help->parsed()      ? run_help(help_name, sink)
           : app.got_subcommand("rand")  ? run_rand_main(o, rand, sink)
           : app.got_subcommand("batch") ? run_batch_main(o, batch, sink)
                                         : run_statements(o, sink);
  const bool reported = app.got_subcommand("batch") && sink.failed();  // batch said so itself
  if (!sink.close()) {
    if (!reported) std::fprintf(stderr, "zeq: %s\n", sink.sentence().c_str());
    return 2;
  }
  return status;
}
