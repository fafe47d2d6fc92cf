#include <gtest/gtest.h>

#include "platform/Dictionary.h"
#include "platform/Text.h"

using namespace platform;

TEST(Fields, CutAtEveryDelimiterLeftToRightWithoutOverlap) {
    EXPECT_EQ(CountFields("", "\x40\x09"), 0);
    EXPECT_EQ(CountFields("abc", "\x40\x09"), 1);
    EXPECT_EQ(CountFields("\x40\x09", "\x40\x09"), 2);  // two empty fields
    EXPECT_EQ(NthField("\x40\x09", "\x40\x09", 1), "");
    EXPECT_EQ(NthField("a\x40\x09" "b\x40\x09", "\x40\x09", 2), "b");
    EXPECT_EQ(NthField("a\x40\x09" "b\x40\x09", "\x40\x09", 3), "");
    // "@@@" holds one "@@" found from the left; the third "@" starts field 2.
    EXPECT_EQ(CountFields("@@@", "@@"), 2);
    EXPECT_EQ(NthField("@@@", "@@", 2), "@");
    EXPECT_EQ(NthField("x@@y", "@@", 0), "");
    EXPECT_EQ(NthField("x@@y", "@@", 9), "");
}

TEST(Bytes, PositionsAreOneBasedAndClampAtTheEnds) {
    const std::string text("ab\0cd", 5);
    EXPECT_EQ(LenB(text), 5);
    EXPECT_EQ(MidB(text, 3, 1), std::string(1, '\0'));
    EXPECT_EQ(MidB(text, 4, 99), "cd");
    EXPECT_EQ(MidB(text, 6, 1), "");
    EXPECT_EQ(MidB(text, 0, 1), "");
    EXPECT_EQ(LeftB(text, 9), text);
    EXPECT_EQ(LeftB(text, -1), "");
    EXPECT_EQ(RightB(text, 2), "cd");
    EXPECT_EQ(InStrB(text, "cd"), 4);
    EXPECT_EQ(InStrB(5, text, "cd"), 0);
    EXPECT_EQ(InStrB(text, ""), 0);
    EXPECT_EQ(Chr(0xE6), "\xE6");
}

TEST(Numbers, DecimalAndHexTextsAndLeadingNumbers) {
    EXPECT_EQ(Str(1) + Str(10) + Str(3), "1103");
    EXPECT_EQ(Hex(0x2B), "2B");
    EXPECT_EQ(Hex(0x0A), "A");
    EXPECT_EQ(HexByte(0x0A), "0A");
    EXPECT_EQ(HexByte(0xFF), "FF");
    EXPECT_EQ(Val("200 OK"), 200);
    EXPECT_EQ(Val("  -7x"), -7);
    EXPECT_EQ(Val("x7"), 0);
    EXPECT_EQ(Val(""), 0);
    EXPECT_EQ(Val("99999999999999999999999"), INT64_MAX);
    EXPECT_EQ(ValInt32("404 Not Found"), 404);
    EXPECT_EQ(ValInt32("2147483648"), INT32_MAX);
    EXPECT_EQ(ValInt32("-2147483649"), INT32_MIN);
}

TEST(ReplaceAll, ReplacesLeftToRightWithoutRescanningTheReplacement) {
    EXPECT_EQ(ReplaceAllB("50% off", "%", "%25"), "50%25 off");
    EXPECT_EQ(ReplaceAllB("aaa", "aa", "a"), "aa");
    EXPECT_EQ(ReplaceAllB("abc", "", "x"), "abc");
}

TEST(Utf8Converter, KeepsValidTextAndReplacesEveryBrokenSequence) {
    const auto utf8 = GetTextEncoding(0x0100, 0, 2);
    const auto converter = GetTextConverter(utf8, utf8);
    ASSERT_TRUE(converter);
    EXPECT_EQ(converter->convert("名前.indd\tCS6"), "名前.indd\tCS6");
    EXPECT_EQ(converter->convert(std::string("a\0b", 3)), std::string("a\0b", 3));
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(converter->convert("3.0\xFF"), "3.0" + fffd);
    EXPECT_EQ(converter->convert("\xE5\x90"), fffd);                 // truncated sequence
    EXPECT_EQ(converter->convert("\xC0\xAF"), fffd + fffd);          // overlong form
    EXPECT_EQ(converter->convert("\xED\xA0\x80"), fffd + fffd + fffd);  // surrogate
    EXPECT_EQ(converter->convert("\xF4\x90\x80\x80x"), fffd + fffd + fffd + fffd + "x");
    EXPECT_FALSE(GetTextConverter(GetTextEncoding(0x0100, 0, 1), utf8));
}

TEST(DictionaryOrder, YieldsKeysInInsertionOrderAndReplacesInPlace) {
    Dictionary form;
    form.SetValue("app_id", "3");
    form.SetValue("ver", "120");
    form.SetValue("regi", "Halvoric");
    form.SetValue("app_id", "4");
    ASSERT_EQ(form.Count(), 3);
    EXPECT_EQ(form.Key(0), "app_id");
    EXPECT_EQ(form.Key(2), "regi");
    EXPECT_EQ(form.Value("app_id"), "4");
    form.Remove("ver");
    EXPECT_EQ(form.Key(1), "regi");
    EXPECT_EQ(form.Value("regi"), "Halvoric");
    EXPECT_THROW(form.Value("ver"), KeyNotFoundException);
    EXPECT_THROW(form.Key(2), OutOfBoundsException);
    EXPECT_THROW(form.Remove("ver"), KeyNotFoundException);
}
