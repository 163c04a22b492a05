#include "core/Clave.h"

namespace qev {

namespace {

// The running key always advances with the scrambled byte: the output when scrambling, the input when not.
QByteArray runClave(const QByteArray& in, uint16_t key, bool scrambling) {
    QByteArray out(in.size(), '\0');
    for (qsizetype i = 0; i < in.size(); ++i) {
        const auto inByte = static_cast<uint8_t>(in[i]);
        const auto outByte = static_cast<uint8_t>(inByte ^ (key >> 8));
        out[i] = static_cast<char>(outByte);
        const uint8_t scrambled = scrambling ? outByte : inByte;
        // Unsigned 32-bit arithmetic: the product stays below 2^32 and is reduced modulo 65536.
        const uint32_t next = (uint32_t{scrambled} + key) * kClaveMultiplier + kClaveAdder;
        key = static_cast<uint16_t>(next);
    }
    return out;
}

} // namespace

QByteArray scrambleClave(const QByteArray& plain, uint16_t startKey) {
    return runClave(plain, startKey, true);
}

QByteArray unscrambleClave(const QByteArray& scrambled, uint16_t startKey) {
    return runClave(scrambled, startKey, false);
}

} // namespace qev
