#include "exchange/mail/ValidEmail.h"

#include "core/Settings.h"

namespace qev {

namespace {

enum class St { Start, LocalAtom, Quoted, QuotedPair, AfterQuote, LocalPeriod, ExpectLabel, Label, Hyphen };

bool isLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

bool isAtom(unsigned char c) {
    if (isLetter(c) || isDigit(c) || c >= 128) return true;
    switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '*':
    case '+':
    case '-':
    case '=':
    case '?':
    case '^':
    case '_':
    case '`':
    case '{':
    case '|':
    case '}':
    case '~':
        return true;
    default:
        return false;
    }
}

} // namespace

bool EsEmailValido(const QByteArray& bytes) {
    St st = St::Start;
    int labels = 1;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        switch (st) {
        case St::Start:
            if (isAtom(c))
                st = St::LocalAtom;
            else if (c == '"')
                st = St::Quoted;
            else
                return false;
            break;
        case St::LocalAtom:
            if (c == '@')
                st = St::ExpectLabel;
            else if (c == '.')
                st = St::LocalPeriod;
            else if (!isAtom(c))
                return false;
            break;
        case St::Quoted:
            if (c == '\\')
                st = St::QuotedPair;
            else if (c == '"')
                st = St::AfterQuote;
            else if (c == '\r')
                return false;
            break;
        case St::QuotedPair:
            st = St::Quoted;
            break;
        case St::AfterQuote:
            if (c == '@')
                st = St::ExpectLabel;
            else if (c == '.')
                st = St::LocalPeriod;
            else
                return false;
            break;
        case St::LocalPeriod:
            if (isAtom(c))
                st = St::LocalAtom;
            else if (c == '"')
                st = St::Quoted;
            else
                return false;
            break;
        case St::ExpectLabel:
            if (isLetter(c))
                st = St::Label;
            else
                return false;
            break;
        case St::Label:
            if (c == '.') {
                st = St::ExpectLabel;
                ++labels;
            } else if (c == '-') {
                st = St::Hyphen;
            } else if (!isLetter(c) && !isDigit(c)) {
                return false;
            }
            break;
        case St::Hyphen:
            if (isLetter(c) || isDigit(c))
                st = St::Label;
            else if (c != '-')
                return false;
            break;
        }
    }
    return st == St::Label && labels >= 2;
}

bool EsEmailValido(const QString& text) {
    return EsEmailValido(ansiBytes(text));
}

} // namespace qev
