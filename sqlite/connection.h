// sqlite/connection.h - one SQLite connection's state, shared by its
// registrations, and what the function bodies (functions.cc) need of it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/call.h"
#include "host/column.h"
#include "sqlite/zeqsqlite.h"

namespace zeqsql {

// A connection's task, session encoding, prepared calls and COMPCOST costs.
class Connection {
 public:
  Connection(zeqhost::Host &host, sqlite3 *db);
  ~Connection();
  Connection(const Connection &) = delete;
  Connection &operator=(const Connection &) = delete;

  zeqhost::Encoding encoding() const { return encoding_; }
  void set_encoding(zeqhost::Encoding e);
  zeqhost::Worker &worker();
  // One prepared call per function and argument count, kept across rows.
  zeqhost::ColumnCall &column(const zeq::catalogue::Function &fn, int argc);
  // The connection's SQLITE_LIMIT_LENGTH, the most bytes a result may take.
  int64_t length_limit();
  // Bumped whenever the prepared calls are dropped (encoding, task, limit).
  uint64_t generation() const { return generation_; }
  // A fresh task: COMPCOST's costs back to the defaults.
  void reset_task();
  const std::string &costs() const { return costs_; }
  void set_costs(std::string text) { costs_ = std::move(text); }

  // The SQL names of a catalogue function in this connection.
  const std::vector<std::string> &names_of(const zeq::catalogue::Function &fn) const { return names_.at(&fn); }
  void set_names(const zeq::catalogue::Function &fn, std::vector<std::string> names) { names_[&fn] = std::move(names); }
  void set_native_encoding(int enc) { native_ = enc; }
  // Registers the catalogue functions again without SQLITE_DETERMINISTIC
  // (once per connection); SQLite status.
  int leave_schema(sqlite3 *db, const std::shared_ptr<Connection> &self);

  std::vector<zeqhost::Arg> scratch;  // the arguments of the call in progress

 private:
  void drop_calls();

  zeqhost::Host &host_;
  sqlite3 *db_;
  zeqhost::Encoding encoding_ = zeqhost::Encoding::Utf8;
  int64_t limit_ = -1;
  uint64_t generation_ = 0;
  std::string costs_ = "default costs";
  int native_ = SQLITE_UTF8;
  bool schema_safe_ = true;
  std::map<const zeq::catalogue::Function *, std::vector<std::string>> names_;
  std::unique_ptr<zeqhost::Worker> worker_;  // declared before the calls that use it
  std::map<std::pair<const zeq::catalogue::Function *, int>, std::unique_ptr<zeqhost::ColumnCall>> calls_;
};

// What one registration carries: its connection and its catalogue row, and
// the prepared call its last call used (valid while the generation holds).
struct Binding {
  std::shared_ptr<Connection> conn;
  const zeq::catalogue::Function *fn;
  zeqhost::ColumnCall *call = nullptr;
  int call_argc = -1;
  uint64_t call_generation = 0;
};

using SqlFn = void (*)(sqlite3_context *, int, sqlite3_value **);

// The room of a Direct function's fixed result in its prepared call (FIRST's
// byte, a short name literal); a longer name literal takes the slow path.
constexpr int64_t kDirectRoom = 64;

inline Binding &binding(sqlite3_context *ctx) { return *static_cast<Binding *>(sqlite3_user_data(ctx)); }

// Ends the call with an error; a sentence longer than the connection's
// SQLITE_LIMIT_LENGTH is shortened to it (SQLite would drop it whole).
inline void fail(sqlite3_context *ctx, std::string_view why) {
  const int limit = sqlite3_limit(sqlite3_context_db_handle(ctx), SQLITE_LIMIT_LENGTH, -1);
  sqlite3_result_error(ctx, why.data(), (int)std::min<size_t>(why.size(), limit > 0 ? (size_t)limit : 0));
}

// Runs a function body; what it throws becomes the statement's error.
template <class F>
void guarded(sqlite3_context *ctx, F &&body) {
  try {
    body();
  } catch (const std::bad_alloc &) {
    sqlite3_result_error_nomem(ctx);
  } catch (const std::exception &e) {
    fail(ctx, e.what());
  }
}

// TEXT and BLOB are character values (the bytes as stored), INTEGER and REAL
// numeric ones, NULL a missing value.
zeqhost::Value to_value(sqlite3_value *v);

// The body of every catalogue function.
void call_function(sqlite3_context *ctx, int argc, sqlite3_value **argv);

}  // namespace zeqsql
