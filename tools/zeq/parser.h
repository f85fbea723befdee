// tools/zeq/parser.h - the expression language of zeq.
//
//   statement := [CALL] NAME '(' [arg {',' arg}] ')'
//   arg       := string | number | '.' | variable
//   string    := '...' or "..." ; a doubled quote inside stands for one
//   number    := [+-] digits [. digits] [e [+-] digits]   (also .5)
//   '.'       := the missing numeric value
//   variable  := name | string N
//   name      := a letter or _, then letters, digits and _
//
// A variable is one defined with --char/--num (or set by an earlier CALL), or
// in zeq batch an input column.  A name that is not an identifier is written
// as a name literal: a string followed at once by N ('First Name'n,
// "e-mail"N), as NLITERAL writes one; a string without the N is always text.
//
// Names are case-blind; a '#' after the statement begins a comment.  Parse
// errors carry a column and a message.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zeqtool {

struct Arg {
  enum Kind { String, Number, Missing, Variable };
  Kind kind = String;
  std::string text;  // String: the value; Variable: the name (upper-cased unless a name literal)
  double number = 0;
};

struct Statement {
  bool call = false;      // CALL routine form
  std::string name;       // upper-cased function name
  std::vector<Arg> args;
};

struct ParseError {
  size_t column = 0;  // 1-based
  std::string message;
};

// Parses one statement; on failure returns nullopt and fills err.
std::optional<Statement> parse_statement(const std::string &text, ParseError &err);

// A name as the language compares it (names are case-blind).
std::string upper(std::string name);

// Parses a number the way the language does ("." alone is not a number).
std::optional<double> parse_number(const std::string &text);

}  // namespace zeqtool
