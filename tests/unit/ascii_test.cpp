// The character classes and case folding, for every byte value, against the C
// library in its "C" locale (which classes ASCII only), and the scanner's table
// built from them.
#include "ascii.h"

#include <cctype>
#include <string>

#include "reader/afile.h"  // before GoogleTest, whose <signal.h> names clash with the registers

#include <gtest/gtest.h>

TEST(Ascii, EveryByteAsTheCLibraryClassesIt) {
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        const char c = static_cast<char>(b);
        EXPECT_EQ(ascii::isUpper(c), std::isupper(b) != 0);
        EXPECT_EQ(ascii::isLower(c), std::islower(b) != 0);
        EXPECT_EQ(ascii::isLetter(c), std::isalpha(b) != 0);
        EXPECT_EQ(ascii::isDigit(c), std::isdigit(b) != 0);
        EXPECT_EQ(ascii::isHexDigit(c), std::isxdigit(b) != 0);
        EXPECT_EQ(ascii::isNameStart(c), std::isalpha(b) != 0 || b == '_');
        EXPECT_EQ(ascii::isNameChar(c), std::isalnum(b) != 0 || b == '_');
        EXPECT_EQ(static_cast<unsigned char>(ascii::toLower(c)), std::tolower(b));
        EXPECT_EQ(static_cast<unsigned char>(ascii::toUpper(c)), std::toupper(b));

        const uint8_t k = charclass::of(c);
        EXPECT_EQ((k & charclass::NameStart) != 0, ascii::isNameStart(c));
        EXPECT_EQ((k & charclass::Digit) != 0, ascii::isDigit(c));
        EXPECT_EQ((k & charclass::Hex) != 0, ascii::isHexDigit(c));
        EXPECT_EQ((k & charclass::NameChar) != 0, ascii::isNameChar(c));
    }
}

TEST(Ascii, StringsFoldOnlyTheirAsciiLetters) {
    const std::string mixed = "Mov_EAX,[ebx+0x1F]@`{\xC4\xE4\xFF";
    EXPECT_EQ(lowerAscii(mixed), "mov_eax,[ebx+0x1f]@`{\xC4\xE4\xFF");
    EXPECT_EQ(upperAscii(mixed), "MOV_EAX,[EBX+0X1F]@`{\xC4\xE4\xFF");
    EXPECT_TRUE(ascii::equalNoCase("IsSignedType", "issignedTYPE"));
    EXPECT_TRUE(ascii::equalNoCase("", ""));
    // "@" and "`", "[" and "{" differ by the case bit but are no letters.
    EXPECT_FALSE(ascii::equalNoCase("@[", "`{"));
    EXPECT_FALSE(ascii::equalNoCase("\xC4", "\xE4"));
    EXPECT_FALSE(ascii::equalNoCase("eax", "eaxx"));
}
