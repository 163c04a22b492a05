// Users' passwords are stored scrambled with a 16-bit running key and must come back unchanged.
#include "core/Clave.h"

#include <gtest/gtest.h>

namespace qev {
namespace {

TEST(ClaveTest, ScramblesWithTheRunningKey) {
    // Worked out by hand from the start key, multiplier and adder: the key advances with each scrambled byte.
    EXPECT_EQ(scrambleClave("admin").toHex(), QByteArray("90c4e23b34"));
    EXPECT_EQ(scrambleClave("clave").toHex(), QByteArray("92bf31a716"));
    // The first byte only depends on the start key's high byte (61793 = 0xF161).
    EXPECT_EQ(static_cast<uint8_t>(scrambleClave("a")[0]), 'a' ^ 0xF1);
    EXPECT_TRUE(scrambleClave(QByteArray()).isEmpty());
}

TEST(ClaveTest, EveryPasswordComesBackUnchanged) {
    const char* samples[] = {"a", "admin", "0123456789", "zzzzzzzzzz", "x1y2z3", "qev2024", "aaaaaaaaaa"};
    for (const char* s : samples) {
        const QByteArray plain(s);
        const QByteArray scrambled = scrambleClave(plain);
        EXPECT_EQ(scrambled.size(), plain.size()) << s;
        EXPECT_NE(scrambled, plain) << s;
        EXPECT_EQ(unscrambleClave(scrambled), plain) << s;
    }
    // Every byte value survives, also those a running key would overflow on.
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
    EXPECT_EQ(unscrambleClave(scrambleClave(all)), all);
}

TEST(ClaveTest, DependsOnTheStartKeyAndOnEveryEarlierByte) {
    EXPECT_NE(scrambleClave("admin", 12345), scrambleClave("admin"));
    EXPECT_NE(unscrambleClave(scrambleClave("admin"), 12345), QByteArray("admin"));
    // Same last letter, different earlier letters: the running key makes the last bytes differ.
    EXPECT_NE(scrambleClave("abcde").right(1), scrambleClave("xbcde").right(1));
}

} // namespace
} // namespace qev
