#pragma once
// The fundamental classification of a hand: five upper-case characters, the thumb one of "0AEIVX_", the index to
// little finger each one of "01234X_"; "_" marks a finger not yet classified and "_____" is the empty value.
#include <QString>

namespace qev {

inline constexpr char kClasificacionVacia[] = "_____";

// Cut or padded with "_" to five characters, each checked against its position's set (whatever its case); any
// character out of its set makes the whole value "_____". Upper case.
QString normalizarClasificacion(const QString& text);

// One typed character at a caret position (0-based) of a classification: letters are taken in any case and "-" is
// "_"; a character valid for its position overwrites the one at the caret and moves the caret on. Nothing is ever
// inserted. Answers whether the text changed.
bool teclearClasificacion(QString& text, int& caret, QChar typed);

} // namespace qev
