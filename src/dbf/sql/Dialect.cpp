#include "dbf/sql/Dialect.h"

#include "dbf/FileIo.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>

namespace qev::dbf::sql {

namespace {

enum class TokKind {
    Space,     // blanks, line breaks and comments
    Word,      // identifiers and keywords
    Number,    // numeric literals
    Single,    // 'text'
    Double,    // "text": a table file in table position, else a text literal
    Bracketed, // [name] or `name`
    Param,     // :name, ?, ?1, @name, $name
    Punct,     // operators and separators
};

struct Token {
    TokKind kind;
    std::string_view text; // as written
    std::string value;     // quotes removed and doubled quotes undone, for quoted tokens
};

bool isWordStart(unsigned char c) {
    return std::isalpha(c) || c == '_' || c >= 0x80;
}
bool isWordChar(unsigned char c) {
    return std::isalnum(c) || c == '_' || c == '$' || c >= 0x80;
}

using io::upper;

bool isKeyword(const Token& t, std::initializer_list<const char*> words) {
    if (t.kind != TokKind::Word) return false;
    const std::string u = upper(t.text);
    return std::any_of(words.begin(), words.end(), [&](const char* w) { return u == w; });
}

bool isPunct(const Token* t, std::string_view p) {
    return t && t->kind == TokKind::Punct && t->text == p;
}

// Reads a quoted token starting at `i` (on the opening quote); doubled closing quotes stand for one.
Result<size_t> readQuoted(std::string_view s, size_t i, char close, std::string& value) {
    for (size_t j = i + 1; j < s.size(); ++j) {
        if (s[j] != close) {
            value += s[j];
        } else if (j + 1 < s.size() && s[j + 1] == close && close != ']') {
            value += close;
            ++j;
        } else {
            return j + 1;
        }
    }
    return fail("unterminated quoted text starting at: " + std::string(s.substr(i, 40)));
}

Result<std::vector<Token>> lex(std::string_view s) {
    std::vector<Token> out;
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        const size_t start = i;
        Token t{TokKind::Punct, {}, {}};
        if (c == 0) return fail("the statement holds a NUL character");
        if (std::isspace(c)) {
            while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i])))
                ++i;
            t.kind = TokKind::Space;
        } else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
            while (i < s.size() && s[i] != '\n')
                ++i;
            t.kind = TokKind::Space;
        } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
            const size_t end = s.find("*/", i + 2);
            if (end == std::string_view::npos) return fail("unterminated comment in the statement");
            i = end + 2;
            t.kind = TokKind::Space;
        } else if (isWordStart(c)) {
            while (i < s.size() && isWordChar(static_cast<unsigned char>(s[i])))
                ++i;
            t.kind = TokKind::Word;
        } else if (std::isdigit(c) ||
                   (c == '.' && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
            while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '.')) {
                const char e = s[i];
                ++i;
                if ((e == 'e' || e == 'E') && i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
            }
            t.kind = TokKind::Number;
        } else if (c == '\'' || c == '"' || c == '[' || c == '`') {
            const char close = c == '[' ? ']' : static_cast<char>(c);
            auto end = readQuoted(s, i, close, t.value);
            if (!end) return fail(end.error());
            i = *end;
            t.kind = c == '\'' ? TokKind::Single : c == '"' ? TokKind::Double : TokKind::Bracketed;
        } else if ((c == ':' || c == '@' || c == '$') && i + 1 < s.size() &&
                   isWordChar(static_cast<unsigned char>(s[i + 1]))) {
            ++i;
            while (i < s.size() && isWordChar(static_cast<unsigned char>(s[i])))
                ++i;
            t.kind = TokKind::Param;
        } else if (c == '?') {
            ++i;
            while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
                ++i;
            t.kind = TokKind::Param;
        } else {
            static const char* const kLong[] = {"->>", "<=", ">=", "<>", "!=", "==", "||", "<<", ">>", "->"};
            size_t len = 1;
            for (const char* op : kLong) {
                const std::string_view o(op);
                if (s.substr(i, o.size()) == o) {
                    len = o.size();
                    break;
                }
            }
            i += len;
        }
        t.text = s.substr(start, i - start);
        out.push_back(std::move(t));
    }
    return out;
}

// The significant tokens (no blanks or comments), checked to make one statement; a final ';' is dropped.
Result<std::vector<const Token*>> significant(const std::vector<Token>& tokens) {
    std::vector<const Token*> sig;
    for (const Token& t : tokens) {
        if (t.kind != TokKind::Space) sig.push_back(&t);
    }
    for (size_t i = 0; i < sig.size(); ++i) {
        if (isPunct(sig[i], ";")) {
            if (i + 1 != sig.size()) return fail("only one statement can be run at a time");
            sig.pop_back();
        }
    }
    if (sig.empty()) return fail("the statement is empty");
    return sig;
}

bool endsWithDbf(std::string_view name) {
    return name.size() > 4 && upper(name.substr(name.size() - 4)) == ".DBF";
}

// Words that end a FROM list at their nesting level.
bool endsFromList(const Token& t) {
    return isKeyword(t, {"WHERE", "GROUP", "ORDER", "HAVING", "LIMIT", "UNION", "EXCEPT", "INTERSECT", "SET", "VALUES",
                         "WINDOW", "RETURNING", "SELECT"});
}

// Words that can follow FROM or JOIN but are never a table name.
bool cannotNameTable(const Token& t) {
    return endsFromList(t) || isKeyword(t, {"ON", "USING", "JOIN", "INNER", "LEFT", "RIGHT", "FULL", "CROSS", "NATURAL",
                                            "OUTER", "AS", "DEFAULT", "LATERAL"});
}

std::string describeToken(const Token* t) {
    return t ? "'" + std::string(t->text) + "'" : "the end of the statement";
}

Result<int> readInt(const Token* t) {
    if (!t || t->kind != TokKind::Number || t->text.size() > 6 ||
        !std::all_of(t->text.begin(), t->text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return fail("a whole number is expected instead of " + describeToken(t));
    }
    return std::stoi(std::string(t->text));
}

} // namespace

Result<StatementKind> statementKind(std::string_view statement) {
    auto tokens = lex(statement);
    if (!tokens) return fail(tokens.error());
    auto sig = significant(*tokens);
    if (!sig) return fail(sig.error());
    const Token& first = *sig->front();
    if (isKeyword(first, {"SELECT"})) return StatementKind::Select;
    if (isKeyword(first, {"INSERT"})) return StatementKind::Insert;
    if (isKeyword(first, {"UPDATE"})) return StatementKind::Update;
    if (isKeyword(first, {"DELETE"})) return StatementKind::Delete;
    if (isKeyword(first, {"ALTER"})) return StatementKind::AlterTable;
    return fail("statement not supported: it starts with " + describeToken(&first));
}

Result<std::string> translate(std::string_view statement, const TableResolver& resolve) {
    auto lexed = lex(statement);
    if (!lexed) return fail(lexed.error());
    const std::vector<Token>& tokens = *lexed;
    if (auto sig = significant(tokens); !sig) return fail(sig.error());

    auto prevSignificant = [&](size_t i) -> const Token* {
        while (i > 0) {
            --i;
            if (tokens[i].kind != TokKind::Space) return &tokens[i];
        }
        return nullptr;
    };
    auto at = [&](size_t i) -> const Token* { return i < tokens.size() ? &tokens[i] : nullptr; };

    std::string out;
    out.reserve(statement.size() + 32);
    std::vector<bool> inFrom{false}; // per parenthesis level: inside a FROM list
    bool expectTable = false;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        if (t.kind == TokKind::Space) {
            out += t.text;
            continue;
        }
        if (expectTable) {
            expectTable = false;
            std::string file;
            bool isTable = true;
            switch (t.kind) {
            case TokKind::Double:
            case TokKind::Single:
            case TokKind::Bracketed:
                file = t.value;
                break;
            case TokKind::Word:
                if (cannotNameTable(t)) {
                    isTable = false;
                    break;
                }
                file = std::string(t.text);
                // ped.DBF: a file name with its extension, written bare.
                if (isPunct(at(i + 1), ".") && at(i + 2) && at(i + 2)->kind == TokKind::Word) {
                    file += "." + std::string(at(i + 2)->text);
                    i += 2;
                }
                break;
            default:
                isTable = false;
            }
            if (isTable) {
                auto name = resolve(file);
                if (!name) return fail(name.error());
                out += *name;
                continue;
            }
        }
        switch (t.kind) {
        case TokKind::Word:
            if (isKeyword(t, {"FROM"})) {
                inFrom.back() = true;
                expectTable = true;
            } else if (isKeyword(t, {"JOIN", "UPDATE", "INTO"})) {
                expectTable = true;
            } else if (endsFromList(t)) {
                inFrom.back() = false;
            }
            out += t.text;
            break;
        case TokKind::Punct:
            if (t.text == "(") {
                inFrom.push_back(false);
            } else if (t.text == ")") {
                if (inFrom.size() > 1) inFrom.pop_back();
            } else if (t.text == "," && inFrom.back()) {
                expectTable = true;
            }
            out += t.text;
            break;
        case TokKind::Double:
            if (isPunct(at(i + 1), ".")) {
                // "ped.dbf".c_ped: a table file used as a qualifier.
                if (endsWithDbf(t.value)) {
                    auto name = resolve(t.value);
                    if (!name) return fail(name.error());
                    out += *name;
                } else {
                    out += t.text;
                }
            } else if (isPunct(prevSignificant(i), ".")) {
                out += t.text; // a quoted column after its qualifier
            } else {
                out += quoted(t.value, '\'');
            }
            break;
        default:
            out += t.text;
        }
    }
    return out;
}

Result<FieldDef> fieldForType(const std::string& name, std::string_view type, const std::vector<int>& sizes) {
    const std::string u = upper(type);
    FieldDef f;
    f.name = name;
    auto sized = [&](char fieldType, size_t minSizes, size_t maxSizes) -> Result<FieldDef> {
        if (sizes.size() < minSizes || sizes.size() > maxSizes) {
            if (maxSizes == 0) return fail("type " + u + " takes no size");
            return fail("type " + u + " needs " + (maxSizes == 1 ? "a width" : "a width and optional decimals"));
        }
        f.type = fieldType;
        if (!sizes.empty()) f.length = sizes[0];
        if (sizes.size() > 1) f.decimals = sizes[1];
        if (maxSizes > 0 && (f.length < 1 || f.length > 254))
            return fail("width " + std::to_string(f.length) + " is out of range");
        if (f.decimals < 0 || (f.decimals > 0 && f.decimals > f.length - 2)) {
            return fail(std::to_string(f.decimals) + " decimals do not fit width " + std::to_string(f.length));
        }
        return f;
    };
    if (u == "CHAR" || u == "CHARACTER" || u == "VARCHAR") return sized('C', 1, 1);
    if (u == "NUMERIC" || u == "DECIMAL") return sized('N', 1, 2);
    if (u == "FLOAT") return sized('F', 1, 2);
    if (u == "SMALLINT") {
        if (!sizes.empty()) return fail("type SMALLINT takes no size");
        f.type = 'N';
        f.length = 6;
        return f;
    }
    if (u == "INTEGER" || u == "INT") return sized('I', 0, 0);
    if (u == "BOOLEAN" || u == "LOGICAL") return sized('L', 0, 0);
    if (u == "DATE") return sized('D', 0, 0);
    if (u == "TIMESTAMP") return sized('@', 0, 0);
    if (u == "MEMO") return sized('M', 0, 0);
    return fail("column type " + std::string(type) + " is not supported");
}

Result<AlterTable> parseAlterTable(std::string_view statement) {
    auto lexed = lex(statement);
    if (!lexed) return fail(lexed.error());
    auto sigResult = significant(*lexed);
    if (!sigResult) return fail(sigResult.error());
    const std::vector<const Token*>& sig = *sigResult;
    size_t i = 0;
    auto at = [&](size_t k) -> const Token* { return k < sig.size() ? sig[k] : nullptr; };
    auto expected = [&](const std::string& what) {
        return fail("ALTER TABLE: " + what + " expected instead of " + describeToken(at(i)));
    };

    if (!at(i) || !isKeyword(*at(i), {"ALTER"})) return expected("ALTER");
    ++i;
    if (!at(i) || !isKeyword(*at(i), {"TABLE"})) return expected("TABLE");
    ++i;
    AlterTable alter;
    const Token* name = at(i);
    if (name && (name->kind == TokKind::Double || name->kind == TokKind::Single || name->kind == TokKind::Bracketed)) {
        alter.table = name->value;
        ++i;
    } else if (name && name->kind == TokKind::Word) {
        alter.table = std::string(name->text);
        ++i;
        if (isPunct(at(i), ".") && at(i + 1) && at(i + 1)->kind == TokKind::Word) {
            alter.table += "." + std::string(at(i + 1)->text);
            i += 2;
        }
    } else {
        return expected("a table name");
    }
    if (alter.table.empty()) return fail("ALTER TABLE: the table name is empty");

    bool first = true;
    while (at(i)) {
        if (!first) {
            if (!isPunct(at(i), ",")) return expected("',' or the end of the statement");
            ++i;
        }
        if (at(i) && isKeyword(*at(i), {"DROP", "RENAME", "ALTER", "MODIFY"})) {
            return fail("ALTER TABLE: only ADD is supported");
        }
        if (at(i) && isKeyword(*at(i), {"ADD"})) {
            ++i;
        } else if (first) {
            return expected("ADD");
        }
        first = false;
        if (at(i) && isKeyword(*at(i), {"COLUMN"})) ++i;
        const Token* field = at(i);
        std::string fieldName;
        if (field && field->kind == TokKind::Word) {
            fieldName = std::string(field->text);
        } else if (field && (field->kind == TokKind::Double || field->kind == TokKind::Bracketed)) {
            fieldName = field->value;
        } else {
            return expected("a field name");
        }
        ++i;
        const Token* type = at(i);
        if (!type || type->kind != TokKind::Word) return expected("a column type");
        ++i;
        std::vector<int> sizes;
        if (isPunct(at(i), "(")) {
            ++i;
            while (true) {
                auto n = readInt(at(i));
                if (!n) return fail("ALTER TABLE: " + n.error());
                sizes.push_back(*n);
                ++i;
                if (isPunct(at(i), ")")) {
                    ++i;
                    break;
                }
                if (!isPunct(at(i), ",") || sizes.size() == 2) return expected("')'");
                ++i;
            }
        }
        auto f = fieldForType(fieldName, type->text, sizes);
        if (!f) return fail("ALTER TABLE: field " + fieldName + ": " + f.error());
        alter.fields.push_back(*f);
    }
    if (alter.fields.empty()) return expected("ADD");
    return alter;
}

std::string quoted(std::string_view text, char mark) {
    std::string out(1, mark);
    for (char c : text) {
        out += c;
        if (c == mark) out += mark;
    }
    out += mark;
    return out;
}

} // namespace qev::dbf::sql
