#include "dbf/Value.h"

#include <gtest/gtest.h>

using namespace qev::dbf;

TEST(DateTest, OrdinalAndJulianDayAgreeWithKnownDates) {
    EXPECT_EQ((Date{1, 1, 1}.ordinal()), 1);
    EXPECT_EQ((Date{2024, 2, 29}.julianDay()), 2460370);
    EXPECT_EQ((Date{2000, 1, 1}.julianDay()), 2451545);
    EXPECT_EQ((Date{1900, 3, 1}.ordinal() - Date{1900, 2, 28}.ordinal()), 1); // 1900 is no leap year
    for (int64_t n : {1LL, 59LL, 60LL, 365LL, 366LL, 693595LL, 738945LL, 3652059LL}) {
        EXPECT_EQ(Date::fromOrdinal(n).ordinal(), n) << n;
    }
    EXPECT_EQ(Date::fromOrdinal(Date{2024, 12, 31}.ordinal() + 1), (Date{2025, 1, 1}));
}

TEST(DateTest, ValidityRejectsImpossibleDays) {
    EXPECT_TRUE((Date{2024, 2, 29}.valid()));
    EXPECT_FALSE((Date{2023, 2, 29}.valid()));
    EXPECT_FALSE((Date{2024, 13, 1}.valid()));
    EXPECT_FALSE((Date{2024, 4, 31}.valid()));
    EXPECT_FALSE((Date{0, 1, 1}.valid()));
}

TEST(ValueTest, KeyOrderPutsNullFirstAndComparesNumbersAcrossRepresentations) {
    EXPECT_LT(compareValues(Value(), Value(0.0)), 0);
    EXPECT_EQ(compareValues(Value(5), Value(5.0)), 0);
    EXPECT_LT(compareValues(Value(4.5), Value(5)), 0);
    EXPECT_LT(compareValues(Value("ABC"), Value("ABD")), 0);
    EXPECT_LT(compareValues(Value(Date{2024, 1, 5}), Value(DateTime{Date{2024, 1, 5}, 1})), 0);
    EXPECT_EQ(Value(3.0).toString(), "3");
    EXPECT_EQ(Value(Date{2024, 1, 5}).toString(), "2024-01-05");
}
