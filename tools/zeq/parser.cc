#include "tools/zeq/parser.h"

#include <cctype>
#include <cstdlib>

namespace zeqtool {
namespace {

class Lexer {
 public:
  explicit Lexer(const std::string &s) : s_(s) {}

  void skip_blanks() {
    while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) i_++;
  }
  bool at_end() {
    skip_blanks();
    return i_ >= s_.size();
  }
  char peek() {
    skip_blanks();
    return i_ < s_.size() ? s_[i_] : '\0';
  }
  size_t column() const { return i_ + 1; }
  bool accept(char c) {
    if (peek() == c) {
      i_++;
      return true;
    }
    return false;
  }
  std::string name() {
    skip_blanks();
    size_t b = i_;
    if (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) return {};
    while (i_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[i_])) || s_[i_] == '_')) i_++;
    return upper(s_.substr(b, i_ - b));
  }
  // A quoted string; doubled quotes inside stand for one quote.
  bool string(std::string &out, ParseError &err) {
    char q = s_[i_];
    size_t start = i_++;
    out.clear();
    for (;;) {
      if (i_ >= s_.size()) {
        err = {start + 1, "unterminated string"};
        return false;
      }
      char c = s_[i_++];
      if (c == q) {
        if (i_ < s_.size() && s_[i_] == q) {
          out.push_back(q);
          i_++;
          continue;
        }
        return true;
      }
      out.push_back(c);
    }
  }
  // The N right after a closing quote that makes a string a name literal.
  bool name_suffix() {
    if (i_ >= s_.size() || (s_[i_] != 'n' && s_[i_] != 'N')) return false;
    if (i_ + 1 < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[i_ + 1])) || s_[i_ + 1] == '_')) return false;
    i_++;
    return true;
  }
  // The longest prefix that looks like a number or '.'.
  std::string number_text() {
    skip_blanks();
    size_t b = i_;
    if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) i_++;
    while (i_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[i_])) || s_[i_] == '.')) i_++;
    if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
      size_t save = i_++;
      if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) i_++;
      if (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) {
        while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) i_++;
      } else {
        i_ = save;
      }
    }
    return s_.substr(b, i_ - b);
  }

 private:
  const std::string &s_;
  size_t i_ = 0;
};

}  // namespace

std::string upper(std::string name) {
  for (char &c : name) c = (char)std::toupper(static_cast<unsigned char>(c));
  return name;
}

std::optional<double> parse_number(const std::string &text) {
  if (text.empty() || text == "." || text == "+" || text == "-") return std::nullopt;
  bool digit = false;
  for (char c : text) digit |= std::isdigit(static_cast<unsigned char>(c)) != 0;
  if (!digit) return std::nullopt;
  char *end = nullptr;
  double x = std::strtod(text.c_str(), &end);
  if (!end || *end != '\0') return std::nullopt;
  return x;
}

std::optional<Statement> parse_statement(const std::string &text, ParseError &err) {
  Lexer lx(text);
  Statement st;
  if (lx.at_end()) {
    err = {1, "empty statement"};
    return std::nullopt;
  }
  size_t col = lx.column();
  std::string first = lx.name();
  if (first.empty()) {
    err = {col, "expected a function name"};
    return std::nullopt;
  }
  if (first == "CALL") {
    st.call = true;
    col = lx.column();
    first = lx.name();
    if (first.empty()) {
      err = {col, "expected a routine name after CALL"};
      return std::nullopt;
    }
  }
  st.name = first;
  if (!lx.accept('(')) {
    err = {lx.column(), "expected '(' after " + st.name};
    return std::nullopt;
  }
  if (!lx.accept(')')) {
    for (;;) {
      Arg a;
      char c = lx.peek();
      size_t acol = lx.column();
      if (c == '\'' || c == '"') {
        a.kind = Arg::String;
        if (!lx.string(a.text, err)) return std::nullopt;
        if (lx.name_suffix()) a.kind = Arg::Variable;  // 'First Name'n names a column or variable
      } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
        a.kind = Arg::Variable;
        a.text = lx.name();
      } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '+' || c == '-') {
        std::string t = lx.number_text();
        if (t == ".") {
          a.kind = Arg::Missing;
        } else if (auto x = parse_number(t)) {
          a.kind = Arg::Number;
          a.number = *x;
        } else {
          err = {acol, "malformed number '" + t + "'"};
          return std::nullopt;
        }
      } else if (c == '\0') {
        err = {acol, "unexpected end; expected an argument"};
        return std::nullopt;
      } else {
        err = {acol, std::string("unexpected character '") + c + "'"};
        return std::nullopt;
      }
      st.args.push_back(a);
      if (lx.accept(',')) continue;
      if (lx.accept(')')) break;
      err = {lx.column(), "expected ',' or ')'"};
      return std::nullopt;
    }
  }
  lx.accept(';');
  if (!lx.at_end() && lx.peek() != '#') {  // a comment may end the line
    err = {lx.column(), "unexpected text after the statement"};
    return std::nullopt;
  }
  return st;
}

}  // namespace zeqtool
