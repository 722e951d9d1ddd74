// Tokenizer and recursive-descent parser of the local SQL.
#include <cctype>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>

#include "platform/db/core/DbError.h"
#include "platform/db/sql/Sql.h"
#include "platform/db/sql/SqlAst.h"

namespace kdb::sql {

namespace {

std::string upperOf(const std::string& s)
{
    std::string u = s;
    for (char& c : u)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return u;
}

bool identStart(unsigned char c)
{
    return std::isalpha(c) || c == '_' || c >= 0x80;
}
bool identChar(unsigned char c)
{
    return std::isalnum(c) || c == '_' || c == '$' || c >= 0x80;
}

[[noreturn]] void syntaxError(const std::string& what, const Token& t)
{
    std::string tok = t.kind == Token::End ? std::string("end of statement")
                                           : "'" + (t.kind == Token::String ? t.text : t.text) + "'";
    throw EDBEngineError::sqlSyntax(what + " near " + tok + " (position " + std::to_string(t.pos + 1) + ")");
}

const std::set<std::string>& keywords()
{
    static const std::set<std::string> k = {"SELECT", "DISTINCT", "FROM", "WHERE", "AND", "ORDER", "BY", "AS", "LIKE",
        "INSERT", "INTO", "VALUES", "UPDATE", "SET", "DELETE", "ASC", "DESC", "OR", "NOT"};
    return k;
}

class Parser {
public:
    explicit Parser(const std::string& text) : text_(text), toks_(tokenize(text)) { }

    Statement statement()
    {
        Statement st;
        const Token& t = peek();
        if (isKw("SELECT"))
            st = select();
        else if (isKw("INSERT"))
            st = insert();
        else if (isKw("UPDATE"))
            st = update();
        else if (isKw("DELETE"))
            st = del();
        else
            syntaxError("a statement must begin with SELECT, INSERT, UPDATE or DELETE", t);
        if (isSym(";"))
            ++i_;
        if (peek().kind != Token::End)
            syntaxError("unexpected token", peek());
        return st;
    }

private:
    const Token& peek(size_t ahead = 0) const
    {
        size_t k = std::min(i_ + ahead, toks_.size() - 1);
        return toks_[k];
    }
    bool isKw(const char* kw, size_t ahead = 0) const
    {
        const Token& t = peek(ahead);
        return t.kind == Token::Ident && t.upper == kw;
    }
    bool isSym(const char* s, size_t ahead = 0) const
    {
        const Token& t = peek(ahead);
        return t.kind == Token::Symbol && t.text == s;
    }
    void expectKw(const char* kw)
    {
        if (!isKw(kw))
            syntaxError(std::string("expected ") + kw, peek());
        ++i_;
    }
    void expectSym(const char* s)
    {
        if (!isSym(s))
            syntaxError(std::string("expected '") + s + "'", peek());
        ++i_;
    }
    bool isName(size_t ahead = 0) const
    {
        const Token& t = peek(ahead);
        if (t.kind == Token::QuotedIdent)
            return true;
        return t.kind == Token::Ident && !keywords().count(t.upper);
    }
    std::string name(const char* what)
    {
        if (!isName())
            syntaxError(std::string("expected ") + what, peek());
        return toks_[i_++].upper;
    }

    Statement select()
    {
        Statement st;
        st.kind = Statement::Select;
        expectKw("SELECT");
        if (isKw("DISTINCT")) {
            st.distinct = true;
            ++i_;
        }
        for (;;) {
            st.items.push_back(selectItem());
            if (!isSym(","))
                break;
            ++i_;
        }
        expectKw("FROM");
        for (;;) {
            st.tables.push_back(tableRef(true));
            if (!isSym(","))
                break;
            ++i_;
        }
        if (st.tables.size() > 2)
            syntaxError("at most two tables may be joined", peek());
        if (isKw("WHERE")) {
            ++i_;
            st.where = conditions();
        }
        if (isKw("ORDER")) {
            ++i_;
            expectKw("BY");
            for (;;) {
                OrderItem o;
                o.column = columnRef();
                if (isKw("ASC"))
                    ++i_;
                else if (isKw("DESC")) {
                    o.descending = true;
                    ++i_;
                }
                st.orderBy.push_back(o);
                if (!isSym(","))
                    break;
                ++i_;
            }
        }
        return st;
    }

    SelectItem selectItem()
    {
        SelectItem it;
        if (isSym("*")) {
            ++i_;
            it.star = true;
            return it;
        }
        if (isName() && isSym(".", 1) && isSym("*", 2)) {
            it.star = true;
            it.starQualifier = name("a table name");
            i_ += 2;
            return it;
        }
        it.expr = concat();
        if (isKw("AS")) {
            ++i_;
            it.alias = name("a column alias");
        } else if (isName())
            it.alias = name("a column alias");
        return it;
    }

    TableRef tableRef(bool allowAlias)
    {
        TableRef r;
        const Token& t = peek();
        if (t.kind == Token::QuotedIdent || t.kind == Token::String) {
            r.name = t.text;
            ++i_;
        } else {
            if (!isName())
                syntaxError("expected a table name", t);
            r.name = toks_[i_++].text;
            if (isSym(".") && (peek(1).kind == Token::Ident)) {
                r.name += "." + peek(1).text;
                i_ += 2;
            }
        }
        if (allowAlias && isName())
            r.alias = name("an alias");
        return r;
    }

    Expr columnRef()
    {
        Expr e;
        e.kind = Expr::Column;
        size_t start = peek().pos;
        std::string first = name("a column name");
        if (isSym(".")) {
            ++i_;
            e.qualifier = first;
            e.name = name("a column name");
        } else {
            e.name = first;
        }
        e.text = sourceText(start);
        return e;
    }

    std::string sourceText(size_t start) const
    {
        size_t end = i_ > 0 ? toks_[i_ - 1].end : start;
        if (end < start)
            end = start;
        return text_.substr(start, end - start);
    }

    Expr concat()
    {
        size_t start = peek().pos;
        Expr first = primary();
        if (!isSym("+"))
            return first;
        Expr c;
        c.kind = Expr::Concat;
        c.parts.push_back(std::move(first));
        while (isSym("+")) {
            ++i_;
            c.parts.push_back(primary());
        }
        c.text = sourceText(start);
        return c;
    }

    Expr primary()
    {
        const Token& t = peek();
        size_t start = t.pos;
        if (isSym("(")) {
            if (++depth_ > kMaxDepth)
                syntaxError("too many nested parentheses", t);
            ++i_;
            Expr inner = concat();
            expectSym(")");
            --depth_;
            inner.text = sourceText(start);
            return inner;
        }
        if (t.kind == Token::String) {
            Expr e;
            e.kind = Expr::Literal;
            e.literal = QString::fromUtf8(t.text.c_str());
            e.literalIsText = true;
            ++i_;
            e.text = sourceText(start);
            return e;
        }
        if (t.kind == Token::Number) {
            Expr e;
            e.kind = Expr::Literal;
            e.literal = std::stod(t.text);
            ++i_;
            e.text = t.text;
            return e;
        }
        if (isSym("-") && peek(1).kind == Token::Number) {
            Expr e;
            e.kind = Expr::Literal;
            e.literal = -std::stod(peek(1).text);
            i_ += 2;
            e.text = sourceText(start);
            return e;
        }
        if (t.kind == Token::Param) {
            Expr e;
            e.kind = Expr::Param;
            e.name = t.upper;
            ++i_;
            e.text = ":" + t.text;
            return e;
        }
        if (isKw("MAX") && isSym("(", 1)) {
            i_ += 2;
            Expr e;
            e.kind = Expr::Max;
            e.parts.push_back(columnRef());
            expectSym(")");
            e.text = sourceText(start);
            return e;
        }
        if (isName())
            return columnRef();
        syntaxError("expected a value or a column name", t);
    }

    std::vector<Condition> conditions()
    {
        std::vector<Condition> out;
        for (;;) {
            Condition c;
            c.lhs = concat();
            const Token& op = peek();
            if (isKw("LIKE"))
                c.op = CmpOp::Like;
            else if (isSym("="))
                c.op = CmpOp::Eq;
            else if (isSym("<>") || isSym("!="))
                c.op = CmpOp::Ne;
            else if (isSym("<"))
                c.op = CmpOp::Lt;
            else if (isSym("<="))
                c.op = CmpOp::Le;
            else if (isSym(">"))
                c.op = CmpOp::Gt;
            else if (isSym(">="))
                c.op = CmpOp::Ge;
            else
                syntaxError("expected a comparison operator", op);
            ++i_;
            c.rhs = concat();
            if (hasMax(c.lhs) || hasMax(c.rhs))
                syntaxError("MAX is not allowed in WHERE", op);
            out.push_back(std::move(c));
            if (isKw("OR"))
                syntaxError("OR is not supported", peek());
            if (!isKw("AND"))
                break;
            ++i_;
        }
        return out;
    }

    Statement insert()
    {
        Statement st;
        st.kind = Statement::Insert;
        expectKw("INSERT");
        expectKw("INTO");
        st.tables.push_back(tableRef(false));
        expectSym("(");
        for (;;) {
            st.insertColumns.push_back(name("a column name"));
            if (!isSym(","))
                break;
            ++i_;
        }
        expectSym(")");
        expectKw("VALUES");
        expectSym("(");
        for (;;) {
            const Token& at = peek();
            st.insertValues.push_back(concat());
            if (hasMax(st.insertValues.back()))
                syntaxError("MAX is allowed in the select list only", at);
            if (!isSym(","))
                break;
            ++i_;
        }
        expectSym(")");
        if (st.insertColumns.size() != st.insertValues.size())
            syntaxError("the column list and the value list differ in length", peek());
        return st;
    }

    Statement update()
    {
        Statement st;
        st.kind = Statement::Update;
        expectKw("UPDATE");
        st.tables.push_back(tableRef(false));
        expectKw("SET");
        for (;;) {
            Assignment a;
            Expr col = columnRef();
            a.column = col.name;
            expectSym("=");
            const Token& at = peek();
            a.value = concat();
            if (hasMax(a.value))
                syntaxError("MAX is allowed in the select list only", at);
            st.assignments.push_back(std::move(a));
            if (!isSym(","))
                break;
            ++i_;
        }
        if (isKw("WHERE")) {
            ++i_;
            st.where = conditions();
        }
        return st;
    }

    Statement del()
    {
        Statement st;
        st.kind = Statement::Delete;
        expectKw("DELETE");
        expectKw("FROM");
        st.tables.push_back(tableRef(false));
        if (isKw("WHERE")) {
            ++i_;
            st.where = conditions();
        }
        return st;
    }

    static constexpr int kMaxDepth = 32;
    std::string text_;
    std::vector<Token> toks_;
    size_t i_ = 0;
    int depth_ = 0;
};

}  // namespace

std::vector<Token> tokenize(const std::string& text)
{
    std::vector<Token> out;
    size_t i = 0, n = text.size();
    auto fail = [&](const std::string& msg, size_t pos) {
        throw EDBEngineError::sqlSyntax(msg + " (position " + std::to_string(pos + 1) + ")");
    };
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (std::isspace(c)) {
            ++i;
            continue;
        }
        Token t;
        t.pos = i;
        if (c == '\'') {
            std::string v;
            size_t j = i + 1;
            bool closed = false;
            while (j < n) {
                if (text[j] == '\'') {
                    if (j + 1 < n && text[j + 1] == '\'') {
                        v += '\'';
                        j += 2;
                        continue;
                    }
                    closed = true;
                    break;
                }
                v += text[j++];
            }
            if (!closed)
                fail("unterminated text literal", i);
            t.kind = Token::String;
            t.text = v;
            t.upper = v;
            i = j + 1;
        } else if (c == '"') {
            size_t j = text.find('"', i + 1);
            if (j == std::string::npos)
                fail("unterminated quoted name", i);
            t.kind = Token::QuotedIdent;
            t.text = text.substr(i + 1, j - i - 1);
            t.upper = upperOf(t.text);
            i = j + 1;
        } else if (c == ':' && i + 1 < n && identStart(static_cast<unsigned char>(text[i + 1]))) {
            size_t j = i + 1;
            while (j < n && identChar(static_cast<unsigned char>(text[j])))
                ++j;
            t.kind = Token::Param;
            t.text = text.substr(i + 1, j - i - 1);
            t.upper = upperOf(t.text);
            i = j;
        } else if (std::isdigit(c) ||
            (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(text[i + 1])) &&
                (out.empty() || out.back().kind == Token::Symbol))) {
            size_t j = i;
            while (j < n && (std::isdigit(static_cast<unsigned char>(text[j])) || text[j] == '.'))
                ++j;
            t.kind = Token::Number;
            t.text = text.substr(i, j - i);
            t.upper = t.text;
            if (t.text.find('.') != t.text.rfind('.'))
                fail("malformed number '" + t.text + "'", i);
            i = j;
        } else if (identStart(c)) {
            size_t j = i;
            while (j < n && identChar(static_cast<unsigned char>(text[j])))
                ++j;
            t.kind = Token::Ident;
            t.text = text.substr(i, j - i);
            t.upper = upperOf(t.text);
            i = j;
        } else {
            static const char* two[] = {"<>", "<=", ">=", "!="};
            t.kind = Token::Symbol;
            bool done = false;
            for (const char* s : two) {
                if (text.compare(i, 2, s) == 0) {
                    t.text = s;
                    i += 2;
                    done = true;
                    break;
                }
            }
            if (!done) {
                if (std::string("=<>,()*+.;-").find(static_cast<char>(c)) == std::string::npos)
                    fail(std::string("unexpected character '") + static_cast<char>(c) + "'", i);
                t.text = std::string(1, static_cast<char>(c));
                ++i;
            }
            t.upper = t.text;
        }
        t.end = i;
        out.push_back(std::move(t));
    }
    Token end;
    end.pos = n;
    end.end = n;
    out.push_back(end);
    return out;
}

// The screens run the same few texts again and again: their trees are kept
// (a tree depends on its text alone), the oldest ones making room. A text
// that does not parse is not kept: it raises its error each time.
Statement parse(const std::string& text)
{
    constexpr size_t kKept = 64;
    static std::mutex mutex;
    static std::unordered_map<std::string, std::shared_ptr<const Statement>> kept;
    static std::vector<std::string> order;  // oldest first
    {
        std::lock_guard<std::mutex> g(mutex);
        if (auto it = kept.find(text); it != kept.end())
            return *it->second;
    }
    Parser p(text);
    auto tree = std::make_shared<const Statement>(p.statement());
    std::lock_guard<std::mutex> g(mutex);
    if (kept.emplace(text, tree).second) {
        order.push_back(text);
        if (order.size() > kKept) {
            kept.erase(order.front());
            order.erase(order.begin());
        }
    }
    return *tree;
}

bool hasMax(const Expr& e)
{
    if (e.kind == Expr::Max)
        return true;
    for (const Expr& p : e.parts)
        if (hasMax(p))
            return true;
    return false;
}

bool hasColumnOutsideMax(const Expr& e)
{
    if (e.kind == Expr::Column)
        return true;
    if (e.kind == Expr::Max)
        return false;
    for (const Expr& p : e.parts)
        if (hasColumnOutsideMax(p))
            return true;
    return false;
}

std::vector<std::string> parameterNames(const std::string& sqlText)
{
    std::vector<std::string> names;
    for (const Token& t : tokenize(sqlText)) {
        if (t.kind != Token::Param)
            continue;
        bool seen = false;
        for (const auto& n : names)
            seen = seen || n == t.upper;
        if (!seen)
            names.push_back(t.upper);
    }
    return names;
}

}  // namespace kdb::sql
