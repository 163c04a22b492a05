#pragma once
// Passwords of the users table (`usu.C_CLAVE`) are stored scrambled: each byte is XORed with the high byte of a
// 16-bit running key, which then advances with the scrambled byte. The output has the input's length.

#include <QByteArray>

#include <cstdint>

namespace qev {

inline constexpr uint16_t kClaveStartKey = 61793;
inline constexpr uint16_t kClaveMultiplier = 39274;
inline constexpr uint16_t kClaveAdder = 27155;

QByteArray scrambleClave(const QByteArray& plain, uint16_t startKey = kClaveStartKey);
QByteArray unscrambleClave(const QByteArray& scrambled, uint16_t startKey = kClaveStartKey);

} // namespace qev
