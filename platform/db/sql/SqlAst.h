#pragma once
// Tokens and syntax tree of the local SQL (internal to the library and its tests).
#include <QVariant>

#include <string>
#include <vector>

namespace kdb::sql {

struct Token {
    enum Kind { End, Ident, QuotedIdent, String, Number, Param, Symbol };
    Kind kind = End;
    std::string text;  // as written (a string literal: its value, quotes undone)
    std::string upper;  // upper-case text, for keywords and names
    size_t pos = 0;  // 0-based offset in the statement
    size_t end = 0;  // offset just past the token
};

// Splits a statement into tokens; raises EDBEngineError kSqlSyntax on an
// unterminated literal or a character that belongs to no token.
std::vector<Token> tokenize(const std::string& text);

// "+" reads as Concat; bound, it joins texts (Concat) or adds numbers (Sum),
// and refuses operands of other kinds.
struct Expr {
    enum Kind { Literal, Param, Column, Concat, Sum, Max };
    Kind kind = Literal;
    QVariant literal;  // QString or double
    bool literalIsText = false;
    std::string name;  // parameter or column name, upper case
    std::string qualifier;  // table name or alias of a column, upper case
    std::vector<Expr> parts;  // Concat and Sum operands; Max: its one column
    std::string text;  // source text, for result column names
    // bound by the executor
    int table = -1;
    int field = -1;
};

enum class CmpOp { Eq, Ne, Lt, Le, Gt, Ge, Like };

struct Condition {
    Expr lhs;
    CmpOp op = CmpOp::Eq;
    Expr rhs;
};

struct SelectItem {
    bool star = false;
    std::string starQualifier;  // "P" of P.*, empty for *
    Expr expr;
    std::string alias;
};

struct TableRef {
    std::string name;  // as written, extension included
    std::string alias;  // upper case, empty when none
};

struct OrderItem {
    Expr column;
    bool descending = false;
};

struct Assignment {
    std::string column;  // upper case
    Expr value;
};

struct Statement {
    enum Kind { Select, Insert, Update, Delete };
    Kind kind = Select;
    bool distinct = false;
    std::vector<SelectItem> items;
    std::vector<TableRef> tables;
    std::vector<Condition> where;  // joined by AND
    std::vector<OrderItem> orderBy;
    std::vector<std::string> insertColumns;
    std::vector<Expr> insertValues;
    std::vector<Assignment> assignments;
};

Statement parse(const std::string& text);

// Whether the expression holds a MAX, and a column outside any MAX.
bool hasMax(const Expr& e);
bool hasColumnOutsideMax(const Expr& e);

}  // namespace kdb::sql
