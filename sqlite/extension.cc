// sqlite/extension.cc - the SQLite loadable extension: every function of the
// catalogue under its lower-case name, zeq_encoding, zeq_compcost, and the
// zeq_random table (random_table.cc).
//
// The extension is a host: it loads the module once per process through the
// reference host and gives every connection its own Worker (one task), made on
// first use and freed when the connection closes.  All functions of one
// connection share that connection's state through a reference count; the
// last registration SQLite drops (at sqlite3_close) frees it.
#include <dlfcn.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <map>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "host/call.h"
#include "sqlite/zeqsqlite.h"

SQLITE_EXTENSION_INIT1

namespace zeqsql {
namespace {

using zeq::catalogue::Function;
using zeqhost::CallOutcome;
using zeqhost::Encoding;
using zeqhost::Value;

// ---------------------------------------------------------------------------
// The host: one per process, kept for the life of the process.
// ---------------------------------------------------------------------------

// The directory this extension was loaded from.
std::string own_directory() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void *>(&own_directory), &info) || !info.dli_fname) return ".";
  std::string path = info.dli_fname;
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// SQLite unloads an extension when the connection that loaded it closes; the
// host and the module's process-wide anchors outlive connections, so the
// extension stays mapped.
void pin_extension() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void *>(&pin_extension), &info) && info.dli_fname)
    dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

std::string module_path() {
  if (const char *env = std::getenv("ZEQ_MODULE"); env && *env) return env;
  return own_directory() + "/libzeqwucha.so";
}

// ---------------------------------------------------------------------------
// Per-connection state.
// ---------------------------------------------------------------------------

class Connection {
 public:
  explicit Connection(zeqhost::Host &host) : host_(host) {}

  Encoding encoding() const { return encoding_; }

  void set_encoding(Encoding e) {
    encoding_ = e;
    sites_.clear();  // call sites take their argument shape from the encoding
    if (worker_) worker_->set_encoding(e);
  }

  zeqhost::Worker &worker() {
    if (!worker_) worker_ = std::make_unique<zeqhost::Worker>(host_, encoding_);
    return *worker_;
  }

  // One call site per function and argument count, kept across rows.
  zeqhost::CallSite &site(const Function &fn, int argc) {
    auto &slot = sites_[{&fn, argc}];
    if (!slot) slot = std::make_unique<zeqhost::CallSite>(worker(), fn);
    return *slot;
  }

  // A fresh task: COMPCOST's costs back to the defaults.
  void reset_task() {
    sites_.clear();
    worker_.reset();
  }

 private:
  zeqhost::Host &host_;
  Encoding encoding_ = Encoding::Utf8;
  std::unique_ptr<zeqhost::Worker> worker_;  // declared before the sites that use it
  std::map<std::pair<const Function *, int>, std::unique_ptr<zeqhost::CallSite>> sites_;
};

// What one registration carries: its connection and its catalogue row.
struct Binding {
  std::shared_ptr<Connection> conn;
  const Function *fn;
};

void drop_binding(void *p) { delete static_cast<Binding *>(p); }

Binding &binding(sqlite3_context *ctx) { return *static_cast<Binding *>(sqlite3_user_data(ctx)); }

// Runs a function body; what it throws becomes the statement's error.
template <class F>
void guarded(sqlite3_context *ctx, F &&body) {
  try {
    body();
  } catch (const std::bad_alloc &) {
    sqlite3_result_error_nomem(ctx);
  } catch (const std::exception &e) {
    sqlite3_result_error(ctx, e.what(), -1);
  }
}

// ---------------------------------------------------------------------------
// Values in and out.
// ---------------------------------------------------------------------------

Value bytes_value(const void *p, int n) {
  if (!p && n > 0) throw std::bad_alloc();
  return Value::str(p ? std::string(static_cast<const char *>(p), (size_t)n) : std::string());
}

// TEXT and BLOB are character values (the bytes as stored), INTEGER and REAL
// numeric ones, NULL a missing value.
Value to_value(sqlite3_value *v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: return Value::num((double)sqlite3_value_int64(v));
    case SQLITE_FLOAT: return Value::num(sqlite3_value_double(v));
    case SQLITE_TEXT: {
      const unsigned char *p = sqlite3_value_text(v);
      return bytes_value(p, sqlite3_value_bytes(v));
    }
    case SQLITE_BLOB: {
      const void *p = sqlite3_value_blob(v);
      return bytes_value(p, sqlite3_value_bytes(v));
    }
    default: return Value::missing();
  }
}

std::vector<Value> to_values(int argc, sqlite3_value **argv) {
  std::vector<Value> args;
  args.reserve((size_t)argc);
  for (int i = 0; i < argc; i++) args.push_back(to_value(argv[i]));
  return args;
}

// A whole number an INTEGER holds exactly is returned as INTEGER, every other
// number as REAL, the missing number (NaN) as NULL.
void set_number(sqlite3_context *ctx, double x) {
  if (std::isnan(x)) sqlite3_result_null(ctx);
  else if (x == std::trunc(x) && std::fabs(x) <= 9007199254740992.0) sqlite3_result_int64(ctx, (sqlite3_int64)x);
  else sqlite3_result_double(ctx, x);
}

void set_value(sqlite3_context *ctx, const Value &r) {
  switch (r.kind) {
    case Value::Number: set_number(ctx, r.number); break;
    case Value::Text:
      sqlite3_result_text64(ctx, r.text.data(), r.text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      break;
    default: sqlite3_result_null(ctx);
  }
}

// A missing result the module gives without a word (COMPGED after a refused
// COMPCOST) is NULL, as the host has it; any other status is an error.
bool quietly_missing(const CallOutcome &out) {
  if (!out.error.empty() || out.status != FNC_RC_MISSING) return false;
  for (const auto &m : out.messages)
    if (m.level >= 2) return false;
  return true;
}

void set_outcome(sqlite3_context *ctx, const CallOutcome &out) {
  if (out.ok() || quietly_missing(out)) return set_value(ctx, out.result);
  std::string why = out.sentence();
  if (why.empty()) why = out.function + " failed with status " + std::to_string(out.status);
  sqlite3_result_error(ctx, why.c_str(), -1);
}

// ---------------------------------------------------------------------------
// The functions.
// ---------------------------------------------------------------------------

void call_function(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  guarded(ctx, [&] {
    Binding &b = binding(ctx);
    std::vector<Value> args = to_values(argc, argv);
    set_outcome(ctx, b.conn->site(*b.fn, argc).call(args));
  });
}

const char *encoding_name(Encoding e) { return e == Encoding::Utf8 ? "utf-8" : "latin1"; }

bool parse_encoding(std::string word, Encoding &e) {
  for (auto &c : word) c = (char)std::tolower((unsigned char)c);
  if (word == "utf-8" || word == "utf8") e = Encoding::Utf8;
  else if (word == "latin1" || word == "latin-1" || word == "iso-8859-1") e = Encoding::Latin1;
  else return false;
  return true;
}

// zeq_encoding([name]): switches the connection's session encoding and
// answers the encoding in use.
void encoding_function(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  guarded(ctx, [&] {
    Connection &c = *binding(ctx).conn;
    if (argc == 1) {
      Value v = to_value(argv[0]);
      Encoding e;
      if (v.kind != Value::Text || !parse_encoding(v.text, e))
        return sqlite3_result_error(ctx, "zeq_encoding: unknown encoding; valid encodings: utf-8, latin1", -1);
      c.set_encoding(e);
    }
    sqlite3_result_text(ctx, encoding_name(c.encoding()), -1, SQLITE_STATIC);
  });
}

// What zeq_compcost answers: the pairs it set, e.g. "insert=5 delete=20".
std::string describe_costs(const std::vector<Value> &args) {
  std::string out;
  for (size_t i = 0; i < args.size(); i++) {
    const Value &v = args[i];
    std::string item = v.kind == Value::Text ? v.text
                       : v.kind == Value::Number ? zeqhost::format_number(v.number)
                                                 : std::string(".");
    out += (i == 0 ? "" : i % 2 ? "" : " ") + item;
  }
  return out;
}

// zeq_compcost(operation, cost, ...) is CALL COMPCOST on the connection's
// task; without arguments it gives the connection a fresh task, whose
// COMPGED uses the default costs.
void compcost_function(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  guarded(ctx, [&] {
    Connection &c = *binding(ctx).conn;
    if (argc == 0) {
      c.reset_task();
      return sqlite3_result_text(ctx, "default costs", -1, SQLITE_STATIC);
    }
    std::vector<Value> args = to_values(argc, argv);
    zeqhost::CallOptions opt;
    opt.call_form = true;
    CallOutcome out = c.worker().call("COMPCOST", args, opt);
    if (!out.ok()) return set_outcome(ctx, out);
    std::string text = describe_costs(args);
    sqlite3_result_text64(ctx, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  });
}

// ---------------------------------------------------------------------------
// Registration.
// ---------------------------------------------------------------------------

using SqlFn = void (*)(sqlite3_context *, int, sqlite3_value **);

int add(sqlite3 *db, const std::string &name, int nargs, int flags,
        const std::shared_ptr<Connection> &conn, const Function *fn, SqlFn body) {
  auto *b = new Binding{conn, fn};
  // SQLite calls drop_binding itself when the registration fails.
  return sqlite3_create_function_v2(db, name.c_str(), nargs, flags, b, body, nullptr, nullptr,
                                    drop_binding);
}

// A function whose result depends on the task (COMPGED after COMPCOST) or
// changes it is not deterministic: SQLite then keeps it out of indexes and
// generated columns.
int flags_of(const Function &fn) {
  bool task = fn.has(zeq::catalogue::ZEQ_FN_READS_TASK) || fn.has(zeq::catalogue::ZEQ_FN_WRITES_TASK);
  return SQLITE_UTF8 | (task ? 0 : SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS);
}

std::string lower(std::string_view name) {
  std::string s(name);
  for (auto &c : s) c = (char)std::tolower((unsigned char)c);
  return s;
}

int register_catalogue(sqlite3 *db, const std::shared_ptr<Connection> &conn) {
  int rc = SQLITE_OK;
  for (const Function &fn : zeq::catalogue::kFunctions) {
    if (!fn.has(zeq::catalogue::ZEQ_FN_FUNCTION)) continue;
    std::string name = lower(fn.name);
    if (fn.max_args == zeq::catalogue::kAnyCount) {
      rc = add(db, name, -1, flags_of(fn), conn, &fn, call_function);
    } else {
      for (int n = fn.min_args; n <= fn.max_args && rc == SQLITE_OK; n++)
        rc = add(db, name, n, flags_of(fn), conn, &fn, call_function);
    }
    if (rc != SQLITE_OK) return rc;
  }
  return rc;
}

int register_session_functions(sqlite3 *db, const std::shared_ptr<Connection> &conn) {
  int rc = SQLITE_OK;
  for (int n = 0; n <= 1 && rc == SQLITE_OK; n++)
    rc = add(db, "zeq_encoding", n, SQLITE_UTF8, conn, nullptr, encoding_function);
  if (rc == SQLITE_OK) rc = add(db, "zeq_compcost", -1, SQLITE_UTF8, conn, nullptr, compcost_function);
  return rc;
}

}  // namespace

zeqhost::Host *shared_host(std::string &why) {
  static std::once_flag once;
  static zeqhost::Host *host = nullptr;
  static std::string error;
  std::call_once(once, [] {
    pin_extension();
    zeqhost::HostOptions o;
    o.module_path = module_path();
    o.utf8 = true;
    o.keep_log = false;  // a connection may run for long; the call layer captures its lines
    auto h = std::make_unique<zeqhost::Host>(o);
    if (h->loaded()) host = h.release();  // lives as long as the process
    else error = "cannot load the module " + o.module_path + " (set ZEQ_MODULE to its path): " + h->load_error();
  });
  why = error;
  return host;
}

}  // namespace zeqsql

extern "C" __attribute__((visibility("default"))) int sqlite3_zeqsqlite_init(
    sqlite3 *db, char **err, const sqlite3_api_routines *api) {
  static std::once_flag api_once;  // connections on other threads already read the table
  std::call_once(api_once, [api] { SQLITE_EXTENSION_INIT2(api); });
  try {
    std::string why;
    zeqhost::Host *host = zeqsql::shared_host(why);
    if (!host) {
      if (err) *err = sqlite3_mprintf("zeqsqlite: %s", why.c_str());
      return SQLITE_ERROR;
    }
    auto conn = std::make_shared<zeqsql::Connection>(*host);
    int rc = zeqsql::register_catalogue(db, conn);
    if (rc == SQLITE_OK) rc = zeqsql::register_session_functions(db, conn);
    if (rc == SQLITE_OK) rc = zeqsql::register_random_table(db);
    return rc;
  } catch (const std::bad_alloc &) {
    return SQLITE_NOMEM;
  }
}
