// sqlite/extension.cc - the SQLite loadable extension: loading, the
// per-connection state and the registration of every function.
//
// The extension is a host: it loads the module once per process through the
// reference host and gives every connection its own Connection (one task,
// made on first use).  All functions of one connection share it through a
// reference count; the last registration SQLite drops (at sqlite3_close)
// frees it.  The function bodies are in functions.cc, the tables in
// random_table.cc and catalogue_tables.cc.
#include "sqlite/connection.h"

#include <dlfcn.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>

SQLITE_EXTENSION_INIT1

namespace zeqsql {

using zeq::catalogue::Function;

// ---------------------------------------------------------------------------
// The host: one per process, kept for the life of the process.
// ---------------------------------------------------------------------------

namespace {

// The directory of the file this extension was loaded from, symbolic links
// resolved: the module is installed beside the real file.
std::string own_directory() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void *>(&own_directory), &info) || !info.dli_fname) return ".";
  std::string path = info.dli_fname;
  if (char *real = realpath(info.dli_fname, nullptr)) {
    path = real;
    std::free(real);
  }
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

}  // namespace

zeqhost::Host *shared_host(std::string &why) {
  static std::mutex m;
  static zeqhost::Host *host = nullptr;  // lives as long as the process once loaded
  std::lock_guard<std::mutex> hold(m);
  if (host) return host;
  pin_extension();
  zeqhost::HostOptions o;
  o.module_path = module_path();
  o.utf8 = true;
  o.keep_log = false;  // a connection may run for long; the call layer captures its lines
  auto h = std::make_unique<zeqhost::Host>(o);
  if (!h->loaded()) {
    why = "cannot load the module " + o.module_path + " (set ZEQ_MODULE to its path): " + h->load_error();
    return nullptr;
  }
  host = h.release();
  return host;
}

// ---------------------------------------------------------------------------
// Per-connection state.
// ---------------------------------------------------------------------------

Connection::Connection(zeqhost::Host &host, sqlite3 *db) : host_(host), db_(db) {}

Connection::~Connection() {
  calls_.clear();  // before the worker they call through
}

zeqhost::Worker &Connection::worker() {
  if (!worker_) worker_ = std::make_unique<zeqhost::Worker>(host_, encoding_);
  return *worker_;
}

int64_t Connection::length_limit() {
  const int64_t limit = sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, -1);
  if (limit != limit_) {
    limit_ = limit;
    drop_calls();
  }
  return limit_;
}

void Connection::drop_calls() {
  calls_.clear();
  generation_++;
}

zeqhost::ColumnCall &Connection::column(const Function &fn, int argc) {
  const int64_t limit = length_limit();
  auto &slot = calls_[{&fn, argc}];
  if (!slot) {
    zeqhost::CallOptions opt;
    opt.max_length = std::clamp<int64_t>(limit, 1, zeqhost::kMaxGrowableLength);
    if (fn.result == zeq::catalogue::Result::Direct) opt.length = kDirectRoom;
    slot = std::make_unique<zeqhost::ColumnCall>(worker(), fn, (size_t)argc, opt);
  }
  return *slot;
}

void Connection::set_encoding(zeqhost::Encoding e) {
  encoding_ = e;
  drop_calls();  // prepared calls take their argument shape from the encoding
  if (worker_) worker_->set_encoding(e);
}

void Connection::reset_task() {
  drop_calls();
  worker_.reset();
  costs_ = "default costs";
}

// ---------------------------------------------------------------------------
// Registration.
// ---------------------------------------------------------------------------

namespace {

void drop_binding(void *p) { delete static_cast<Binding *>(p); }

std::string lower(std::string_view name) {
  std::string s(name);
  for (auto &c : s) c = (char)std::tolower((unsigned char)c);
  return s;
}

// Whether the connection already knows a function of this name (an SQLite
// built-in such as char() and count(), or another extension's).
bool taken(sqlite3 *db, const std::string &name) {
  sqlite3_stmt *st = nullptr;
  const int rc = sqlite3_prepare_v2(db, ("select " + name + "()").c_str(), -1, &st, nullptr);
  sqlite3_finalize(st);
  return rc == SQLITE_OK || std::string_view(sqlite3_errmsg(db)).rfind("no such function", 0) != 0;
}

// SQLite looks a function up by name, argument count and text encoding, and
// prefers the registration in the database's own encoding.  A registration
// cannot be changed while a statement runs (zeq_encoding runs in one), so
// the catalogue functions are first registered deterministic in another
// encoding, and a switch away from UTF-8 adds registrations in the
// database's encoding without SQLITE_DETERMINISTIC, which SQLite then
// prefers for the rest of the connection.
//
// The database's encoding is read from its file header (offset 56: 1 UTF-8,
// 2 UTF-16le, 3 UTF-16be): asking SQLite would read the schema before the
// functions exist, and SQLite then never checks the schema's calls of them.
int native_encoding(sqlite3 *db) {
  sqlite3_file *file = nullptr;
  unsigned char word[4] = {};
  if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file || !file->pMethods ||
      file->pMethods->xRead(file, word, 4, 56) != SQLITE_OK)
    return SQLITE_UTF8;
  return word[3] == 2 ? SQLITE_UTF16LE : word[3] == 3 ? SQLITE_UTF16BE : SQLITE_UTF8;
}

int add(sqlite3 *db, const std::string &name, int nargs, int flags, const std::shared_ptr<Connection> &conn,
        const Function *fn, SqlFn body) {
  auto *b = new Binding{conn, fn};
  // SQLite calls drop_binding itself when the registration fails.
  return sqlite3_create_function_v2(db, name.c_str(), nargs, flags, b, body, nullptr, nullptr, drop_binding);
}

// Every registration of a catalogue function: its names and argument counts.
template <class Each>
int for_each_registration(const Connection &conn, Each &&each) {
  for (const Function &fn : zeq::catalogue::kFunctions) {
    if (!fn.has(zeq::catalogue::ZEQ_FN_FUNCTION)) continue;
    for (const std::string &name : conn.names_of(fn)) {
      int rc = SQLITE_OK;
      if (fn.max_args == zeq::catalogue::kAnyCount) rc = each(name, -1, fn);
      for (int n = fn.min_args; fn.max_args != zeq::catalogue::kAnyCount && n <= fn.max_args && rc == SQLITE_OK; n++)
        rc = each(name, n, fn);
      if (rc != SQLITE_OK) return rc;
    }
  }
  return SQLITE_OK;
}

// COMPGED's result depends on the connection's costs: it is never
// deterministic and never runs from the schema (a CHECK constraint, an index,
// a view or a trigger stored in a database).  The others are deterministic
// while the connection is in UTF-8.
int schema_flags(const Function &fn, bool schema_safe) {
  if (!fn.deterministic() || !schema_safe) return SQLITE_DIRECTONLY;
  return SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
}

int register_catalogue(sqlite3 *db, const std::shared_ptr<Connection> &conn) {
  for (const Function &fn : zeq::catalogue::kFunctions) {
    if (!fn.has(zeq::catalogue::ZEQ_FN_FUNCTION)) continue;
    std::vector<std::string> names{"zeq_" + lower(fn.name)};
    if (!taken(db, lower(fn.name))) names.push_back(lower(fn.name));
    conn->set_names(fn, std::move(names));
  }
  const int native = native_encoding(db);
  conn->set_native_encoding(native);
  const int first = native == SQLITE_UTF8 ? SQLITE_UTF16LE : SQLITE_UTF8;
  return for_each_registration(*conn, [&](const std::string &name, int n, const Function &fn) {
    return add(db, name, n, first | schema_flags(fn, true), conn, &fn, call_function);
  });
}

const char *encoding_name(zeqhost::Encoding e) { return e == zeqhost::Encoding::Utf8 ? "utf-8" : "latin1"; }

bool parse_encoding(std::string word, zeqhost::Encoding &e) {
  for (auto &c : word) c = (char)std::tolower((unsigned char)c);
  if (word == "utf-8" || word == "utf8") e = zeqhost::Encoding::Utf8;
  else if (word == "latin1" || word == "latin-1" || word == "iso-8859-1") e = zeqhost::Encoding::Latin1;
  else return false;
  return true;
}

}  // namespace

// The first switch away from UTF-8 takes the catalogue functions out of the
// schema for the rest of the connection (see native_encoding).
int Connection::leave_schema(sqlite3 *db, const std::shared_ptr<Connection> &self) {
  if (!schema_safe_) return SQLITE_OK;
  // The schema is read first, while the functions are still deterministic:
  // its index expressions then refuse writes ("unsafe use of ...") instead of
  // SQLite calling the whole schema malformed when it reads it later.
  sqlite3_exec(db, "select count(*) from sqlite_schema", nullptr, nullptr, nullptr);
  const int rc = for_each_registration(*this, [&](const std::string &name, int n, const Function &fn) {
    return add(db, name, n, native_ | schema_flags(fn, false), self, &fn, call_function);
  });
  if (rc == SQLITE_OK) schema_safe_ = false;
  return rc;
}

namespace {

// zeq_encoding([name]): switches the connection's session encoding and
// answers the encoding in use.
void encoding_function(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  guarded(ctx, [&] {
    Binding &b = binding(ctx);
    Connection &c = *b.conn;
    if (argc == 1) {
      const unsigned char *p = sqlite3_value_text(argv[0]);
      zeqhost::Encoding e;
      if (sqlite3_value_type(argv[0]) != SQLITE_TEXT || !p || !parse_encoding(reinterpret_cast<const char *>(p), e))
        return fail(ctx, "zeq_encoding: unknown encoding; valid encodings: utf-8, latin1");
      if (e != zeqhost::Encoding::Utf8 && c.leave_schema(sqlite3_context_db_handle(ctx), b.conn) != SQLITE_OK)
        return fail(ctx, "zeq_encoding: the functions could not be registered again");
      c.set_encoding(e);
    }
    sqlite3_result_text(ctx, encoding_name(c.encoding()), -1, SQLITE_STATIC);
  });
}

// What zeq_compcost answers: the pairs it set, e.g. "insert=5 delete=20".
std::string describe_costs(const std::vector<zeqhost::Value> &args) {
  std::string out;
  for (size_t i = 0; i < args.size(); i++) {
    const zeqhost::Value &v = args[i];
    std::string item = v.kind == zeqhost::Value::Text     ? v.text
                       : v.kind == zeqhost::Value::Number ? zeqhost::format_number(v.number)
                                                          : std::string(".");
    out += (i == 0 ? "" : i % 2 ? "" : " ") + item;
  }
  return out;
}

// zeq_compcost(operation, cost, ...) is CALL COMPCOST on the connection's
// task and answers the pairs it set; without arguments it answers the costs
// in force.
void compcost_function(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  guarded(ctx, [&] {
    Connection &c = *binding(ctx).conn;
    if (argc > 0) {
      std::vector<zeqhost::Value> args;
      for (int i = 0; i < argc; i++) args.push_back(to_value(argv[i]));
      zeqhost::CallOptions opt;
      opt.call_form = true;
      const zeqhost::CallOutcome out = c.worker().call("COMPCOST", args, opt);
      if (!out.ok()) {
        c.set_costs("none: COMPGED answers NULL until a zeq_compcost call succeeds");
        return fail(ctx, out.sentence());
      }
      c.set_costs(describe_costs(args));
    }
    sqlite3_result_text64(ctx, c.costs().data(), c.costs().size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  });
}

// zeq_compcost_reset(): a fresh task, whose COMPGED uses the default costs.
void compcost_reset_function(sqlite3_context *ctx, int, sqlite3_value **) {
  guarded(ctx, [&] {
    Connection &c = *binding(ctx).conn;
    c.reset_task();
    sqlite3_result_text(ctx, "default costs", -1, SQLITE_STATIC);
  });
}

void version_function(sqlite3_context *ctx, int, sqlite3_value **) {
  sqlite3_result_text(ctx, ZEQ_VERSION, -1, SQLITE_STATIC);
}

// The session functions change the connection: a database file may not call
// them from its schema (a trigger or a view).
int register_session_functions(sqlite3 *db, const std::shared_ptr<Connection> &conn) {
  const int changes = SQLITE_UTF8 | SQLITE_DIRECTONLY;
  int rc = SQLITE_OK;
  for (int n = 0; n <= 1 && rc == SQLITE_OK; n++) rc = add(db, "zeq_encoding", n, changes, conn, nullptr, encoding_function);
  if (rc == SQLITE_OK) rc = add(db, "zeq_compcost", -1, changes, conn, nullptr, compcost_function);
  if (rc == SQLITE_OK) rc = add(db, "zeq_compcost_reset", 0, changes, conn, nullptr, compcost_reset_function);
  if (rc == SQLITE_OK)
    rc = add(db, "zeq_version", 0, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, conn, nullptr, version_function);
  return rc;
}

// The connections the extension is loaded in: a second load finds its state
// (costs, encoding) and leaves it alone.
std::mutex registry_mutex;
std::map<sqlite3 *, std::weak_ptr<Connection>> registry;

std::shared_ptr<Connection> registered(sqlite3 *db) {
  std::lock_guard<std::mutex> hold(registry_mutex);
  for (auto it = registry.begin(); it != registry.end();)
    it = it->second.expired() ? registry.erase(it) : std::next(it);
  auto it = registry.find(db);
  return it == registry.end() ? nullptr : it->second.lock();
}

void remember(sqlite3 *db, const std::shared_ptr<Connection> &conn) {
  std::lock_guard<std::mutex> hold(registry_mutex);
  registry[db] = conn;
}

int load(sqlite3 *db, char **err) {
  std::string why;
  zeqhost::Host *host = shared_host(why);
  if (!host) {
    if (err) *err = sqlite3_mprintf("zeqsqlite: %s", why.c_str());
    return SQLITE_ERROR;
  }
  if (registered(db)) return SQLITE_OK;
  auto conn = std::make_shared<Connection>(*host, db);
  int rc = register_catalogue(db, conn);
  if (rc == SQLITE_OK) rc = register_session_functions(db, conn);
  if (rc == SQLITE_OK) rc = register_random_table(db);
  if (rc == SQLITE_OK) rc = register_catalogue_tables(db);
  if (rc == SQLITE_OK) remember(db, conn);
  return rc;
}

}  // namespace

}  // namespace zeqsql

extern "C" __attribute__((visibility("default"))) int sqlite3_zeqsqlite_init(
    sqlite3 *db, char **err, const sqlite3_api_routines *api) {
  static std::once_flag api_once;  // connections on other threads already read the table
  std::call_once(api_once, [api] {
    (void)api;
    SQLITE_EXTENSION_INIT2(api);
  });
  try {
    return zeqsql::load(db, err);
  } catch (const std::bad_alloc &) {
    return SQLITE_NOMEM;
  }
}
