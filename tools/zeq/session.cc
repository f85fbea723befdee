#include "tools/zeq/session.h"

#include <cmath>
#include <map>

#include "host/call.h"
#include "tools/zeq/registry.h"

namespace zeqtool {

using zeqhost::CallOutcome;
using zeqhost::Value;

Value constant_value(const Arg &a) {
  if (a.kind == Arg::String) return Value::str(a.text);
  if (a.kind == Arg::Number) return Value::num(a.number);
  return Value::missing();
}

std::string format_number(double x) {
  std::string s = zeqhost::format_number(x);
  return s.empty() ? "." : s;
}

namespace {

std::string trim_right(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// A variable as a CALL shows it: text quoted without its padding, numbers plain.
std::string show(const Value &v) {
  if (v.kind != Value::Text) return format_number(v.kind == Value::Number ? v.number : NAN);
  std::string s(1, '\'');
  s.append(trim_right(v.text)).push_back('\'');
  return s;
}

}  // namespace

struct Session::Impl {
  SessionOptions opt;
  std::unique_ptr<zeqhost::Host> host;
  std::unique_ptr<zeqhost::Worker> worker;
  std::map<std::string, Value> vars;
  size_t log_seen = 0;

  bool shown(int level) const { return !opt.log_none && level >= opt.log_threshold; }
  zeqhost::CallOptions call_options(bool call_form) const {
    zeqhost::CallOptions c;
    c.length = opt.length;
    c.growable = opt.growable;
    c.max_length = zeqhost::kMaxGrowableLength;  // a growable result takes the room it needs
    c.result_kind = opt.result_kind;
    c.call_form = call_form;
    c.varchar = opt.varchar;
    return c;
  }
};

Session::Session(SessionOptions options) : impl_(new Impl) {
  impl_->opt = options;
  zeqhost::HostOptions ho;
  ho.module_path = options.module_path;
  ho.utf8 = options.utf8;
  ho.keep_log = options.keep_log;
  impl_->host = std::make_unique<zeqhost::Host>(ho);
  if (impl_->host->loaded())
    impl_->worker = std::make_unique<zeqhost::Worker>(
        *impl_->host, options.utf8 ? zeqhost::Encoding::Utf8 : zeqhost::Encoding::Latin1);
}

Session::~Session() = default;

bool Session::ready() const { return impl_->host->loaded(); }
std::string Session::load_error() const { return impl_->host->load_error(); }
zeqhost::Host &Session::host() { return *impl_->host; }

void Session::define_char(const std::string &name, const std::string &value) {
  std::string padded = value;
  if ((int64_t)padded.size() < impl_->opt.length) padded.resize((size_t)impl_->opt.length, ' ');
  impl_->vars[name] = Value::str(std::move(padded));
}

void Session::define_num(const std::string &name, double value) {
  impl_->vars[name] = std::isnan(value) ? Value::missing() : Value::num(value);
}

void Session::set_setting_text(const std::string &n, const std::string &v) { impl_->host->set_setting(n, v); }
void Session::set_setting_double(const std::string &n, double v) { impl_->host->set_setting(n, v); }
void Session::set_setting_int(const std::string &n, int64_t v) { impl_->host->set_setting_int(n, v); }

std::vector<std::string> Session::take_log() {
  std::vector<std::string> out;
  const auto &log = impl_->host->log();
  for (size_t i = impl_->log_seen; i < log.size(); i++) {
    const auto &e = log[i];
    bool journal = e.kind == zeqhost::LogEntry::JournalMessage || e.kind == zeqhost::LogEntry::JournalStatus;
    if (impl_->opt.log_none || (journal && e.level < impl_->opt.log_threshold)) continue;
    out.push_back(e.text);
  }
  impl_->log_seen = log.size();
  return out;
}

Outcome Session::run_text(const std::string &text) {
  ParseError err;
  auto st = parse_statement(text, err);
  if (st) return run(*st);
  Outcome o;
  o.ok = false;
  o.usage = true;
  o.error = "parse error at column " + std::to_string(err.column) + ": " + err.message;
  return o;
}

Outcome Session::run(const Statement &st) {
  Outcome out;
  auto refuse = [&](const std::string &m) {
    out.ok = false;
    out.usage = true;
    out.error = m;
    return out;
  };
  std::string error;
  const Function *f = callable(st.name, st.call, error);
  if (!f) return refuse(error);
  std::vector<Value> args;
  for (const Arg &a : st.args) {
    if (a.kind != Arg::Variable) {
      args.push_back(constant_value(a));
      continue;
    }
    auto it = impl_->vars.find(upper(a.text));
    if (it == impl_->vars.end())
      return refuse("undefined variable " + a.text + " (define it with --char " + a.text + "=TEXT or --num " +
                    a.text + "=NUMBER)");
    args.push_back(it->second);
  }
  // A call that does not fit the function's usage is refused as a parse error
  // is, here as in zeq batch.
  if (std::string err = zeqhost::check_call(*f, args, st.call); !err.empty()) return refuse(err);

  zeqhost::CallSite site(*impl_->worker, *f, impl_->call_options(st.call));
  CallOutcome res;
  for (int rep = 0; rep < std::max(1, impl_->opt.repeat); rep++) {
    res = site.call(args);
    for (const auto &m : res.messages) {
      out.noted |= m.level >= 2;
      if (impl_->shown(m.level)) out.log.push_back(m.text);
    }
  }
  out.status = res.status;
  if (!res.ok()) {
    out.ok = res.error.empty();  // a call that ran still shows its result
    out.error = res.sentence();
  }
  if (!out.ok) return out;
  if (!st.call) {
    out.output.push_back(res.result.kind == Value::Text ? res.result.text : show(res.result));
    return out;
  }
  // A CALL writes back into its variables; each is shown as the host would see it.
  for (size_t i = 0; i < st.args.size() && i < res.outputs.size(); i++) {
    if (st.args[i].kind != Arg::Variable) continue;
    Value &var = impl_->vars[upper(st.args[i].text)];
    var = res.outputs[i];
    out.output.push_back(st.args[i].text + "=" + show(var));
    if (var.kind == Value::Text) define_char(upper(st.args[i].text), var.text);
  }
  return out;
}

}  // namespace zeqtool
