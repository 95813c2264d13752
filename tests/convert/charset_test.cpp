// The character sets, against tables written here as characters, and --recode through the library.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "convert/charset.h"
#include "convert/env.h"
#include "convert/ferryline.h"

namespace {

// Bytes 0x80 to 0xFF of Mac OS Roman and 0x80 to 0x9F of Windows-1252, one character each; Windows-1252's
// unassigned bytes read as the C1 controls.
const char32_t kMacRoman[] =
    U"ÄÅÇÉÑÖÜáàâäãåçéèêëíìîïñóòôöõúùûü†°¢£§•¶ß®©™´¨≠ÆØ∞±≤≥¥µ∂∑∏π∫ªºΩæø"
    U"¿¡¬√ƒ≈∆«»…\u00A0ÀÃÕŒœ–—“”‘’÷◊ÿŸ⁄€‹›ﬁﬂ‡·‚„‰ÂÊÁËÈÍÎÏÌÓÔ\uF8FFÒÚÛÙıˆ˜¯˘˙˚¸˝˛ˇ";
const char32_t kWindows1252Low[] = U"€\u0081‚ƒ„…†‡ˆ‰Š‹Œ\u008DŽ\u008F\u0090‘’“”•–—˜™š›œ\u009DžŸ";

static_assert(sizeof kMacRoman / sizeof kMacRoman[0] == 129, "128 Mac OS Roman characters");
static_assert(sizeof kWindows1252Low / sizeof kWindows1252Low[0] == 33, "32 Windows-1252 characters");

char32_t ExpectedCharacter(Charset charset, int byte)
{
    if (byte < 0x80) {
        return static_cast<char32_t>(byte);
    }
    if (charset == CHARSET_MAC_ROMAN) {
        return kMacRoman[byte - 0x80];
    }
    return charset == CHARSET_WINDOWS_1252 && byte < 0xA0 ? kWindows1252Low[byte - 0x80] : static_cast<char32_t>(byte);
}

// The byte of `character` in `charset` by the tables above, or '?'.
char ExpectedByte(Charset charset, char32_t character)
{
    for (int byte = 0; byte < 0x100; ++byte) {
        if (ExpectedCharacter(charset, byte) == character) {
            return static_cast<char>(byte);
        }
    }
    return '?';
}

TEST(Charset, EveryByteOfEachEightBitSetReadsAndWritesBack)
{
    for (Charset charset : {CHARSET_MAC_ROMAN, CHARSET_WINDOWS_1252, CHARSET_LATIN1}) {
        for (int byte = 0; byte < 0x100; ++byte) {
            const unsigned char b = static_cast<unsigned char>(byte);
            EXPECT_EQ(DecodeByte(charset, b), ExpectedCharacter(charset, byte)) << CharsetName(charset) << " byte " << byte;
            EXPECT_EQ(EncodeCharacter(charset, DecodeByte(charset, b)), byte) << CharsetName(charset) << " byte " << byte;
        }
    }
    EXPECT_EQ(EncodeCharacter(CHARSET_WINDOWS_1252, 0x3C0), -1);  // π
    EXPECT_EQ(EncodeCharacter(CHARSET_MAC_ROMAN, 0x160), -1);     // Š
}

// Each direction: a book holding every byte above 127 of the source set, recoded by the library, gives
// for each the byte of the same character in the other set, or '?' with one change per line.
TEST(Charset, RecodingCarriesEveryCharacterBothSetsHold)
{
    struct Direction {
        FerrylineDirection direction;
        Charset from;
        Charset to;
    };
    for (const Direction& d : {Direction{FERRYLINE_MAC_TO_WIN, CHARSET_MAC_ROMAN, CHARSET_WINDOWS_1252},
                               Direction{FERRYLINE_WIN_TO_MAC, CHARSET_WINDOWS_1252, CHARSET_MAC_ROMAN}}) {
        std::string book = d.direction == FERRYLINE_MAC_TO_WIN ? "" : "&Main ";
        std::string expected = d.direction == FERRYLINE_MAC_TO_WIN ? "&Main " : "";
        size_t lost = 0;
        for (int byte = 0x80; byte < 0x100; ++byte) {
            const char source = static_cast<char>(byte);
            const char target = ExpectedByte(d.to, ExpectedCharacter(d.from, byte));
            lost += target == '?' ? 1 : 0;
            if (d.direction == FERRYLINE_MAC_TO_WIN) {
                book += std::string("X") + source + " <a>\r\n";
                expected += std::string("#X") + target + " ^a ";
            } else {
                book += std::string("#X") + source + " ^a ";
                expected += std::string("X") + target + " <a>\r\n";
            }
        }
        book += d.direction == FERRYLINE_MAC_TO_WIN ? "" : "+";
        expected += d.direction == FERRYLINE_MAC_TO_WIN ? "+" : "";
        FerrylineOptions options = {1, FERRYLINE_CHARSET_AUTO, 0, 0, 0};
        FerrylineResult result;
        ASSERT_EQ(FERRYLINE_OK, ferryline_convert_bytes(d.direction, &options, book.data(), book.size(), "book", nullptr, &result));
        EXPECT_EQ(std::string(result.output, result.outputSize), expected) << CharsetName(d.from);
        std::string changes(result.changes, result.changesSize);
        EXPECT_EQ(static_cast<size_t>(std::count(changes.begin(), changes.end(), '\n')), lost) << changes;
        ferryline_result_free(&result);
    }
}

TEST(Charset, TellsPlainUnicodeFromEightBitBooks)
{
    const std::string zerosLe("B\0o\0b\0 \0<\0a\0>\0\r\0", 16);
    const std::string zerosBe("\0B\0o\0b\0 \0<\0a\0>\0\r", 16);
    struct Case {
        std::string bytes;
        FerrylineCharset chosen;
        Charset expected;
    } cases[] = {
        {"Ren\xC3\xA9 <a>", FERRYLINE_CHARSET_AUTO, CHARSET_UTF8},
        {"\xEF\xBB\xBF" "Bob <a>", FERRYLINE_CHARSET_AUTO, CHARSET_UTF8},
        {"\xFF\xFE" "B\0", FERRYLINE_CHARSET_AUTO, CHARSET_UTF16LE},
        {"\xFE\xFF\0B", FERRYLINE_CHARSET_AUTO, CHARSET_UTF16BE},
        {zerosLe, FERRYLINE_CHARSET_AUTO, CHARSET_UTF16LE},
        {zerosBe, FERRYLINE_CHARSET_AUTO, CHARSET_UTF16BE},
        {zerosLe.substr(0, 14), FERRYLINE_CHARSET_AUTO, CHARSET_MAC_ROMAN},  // too short to tell
        {"Ren\x8E <a>", FERRYLINE_CHARSET_AUTO, CHARSET_MAC_ROMAN},
        {"Bob <a>", FERRYLINE_CHARSET_AUTO, CHARSET_MAC_ROMAN},              // ASCII stays 8-bit
        {"\xC3\xA9\xC0\x80", FERRYLINE_CHARSET_AUTO, CHARSET_MAC_ROMAN},     // an overlong sequence
        {"Ren\xC3\xA9", FERRYLINE_CHARSET_LATIN1, CHARSET_LATIN1},
        {"\xEF\xBB\xBF" "B", FERRYLINE_CHARSET_WINDOWS_1252, CHARSET_WINDOWS_1252},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChooseCharset(c.bytes.data(), c.bytes.size(), c.chosen, CHARSET_MAC_ROMAN), c.expected) << c.bytes;
    }
}

TEST(Charset, DecodesToUtf8WithoutTheByteOrderMark)
{
    struct Case {
        std::string bytes;
        Charset from;
        std::string utf8;
    } cases[] = {
        {"\xEF\xBB\xBF" "Bob", CHARSET_UTF8, "Bob"},
        {"\xC0\x80" "a\xED\xA0\x80\xF5", CHARSET_UTF8, "\xEF\xBF\xBD\xEF\xBF\xBD" "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {std::string("\xFF\xFE" "A\0\x3D\xD8\x00\xDE", 8), CHARSET_UTF16LE, "A\xF0\x9F\x98\x80"},  // a surrogate pair
        {std::string("\0A\xD8\x3D\0B\0", 7), CHARSET_UTF16BE, "A\xEF\xBF\xBD" "B\xEF\xBF\xBD"},  // lone surrogate, odd byte
        {"\xF0\xDB", CHARSET_MAC_ROMAN, "\xEF\xA3\xBF\xE2\x82\xAC"},
        {"", CHARSET_UTF16LE, ""},
    };
    for (const Case& c : cases) {
        TextBlock text;
        ASSERT_TRUE(DecodeToUtf8(c.bytes.data(), c.bytes.size(), c.from, UsableEnv(nullptr), &text));
        EXPECT_EQ(std::string(text.bytes, text.size), c.utf8) << CharsetName(c.from);
        ReleaseText(&text, UsableEnv(nullptr));
    }
}

// Each change names the Mac line or the W95 entry as the other changes do, with its text in UTF-8.
TEST(Charset, RecodingTellsEachLineOrEntryThatLostACharacter)
{
    struct Case {
        FerrylineDirection direction;
        std::string book;
        std::string changes;
    } cases[] = {
        {FERRYLINE_MAC_TO_WIN, "a <a>\r\r\n\xB9\xB9 <p>\n\r\xF0 <x>",
         "line 3: \"\xCF\x80\xCF\x80 <p>\": 2 characters that Windows-1252 can't hold became \"?\"\n"
         "line 5: \"\xEF\xA3\xBF <x>\": 1 character that Windows-1252 can't hold became \"?\"\n"},
        {FERRYLINE_WIN_TO_MAC, "&Main #a ^a #\x8A\x9A ^b &\x8E #c ^c + #\x8A ^d",
         "entry 2: \"\xC5\xA0\xC5\xA1 \": 2 characters that Mac OS Roman can't hold became \"?\"\n"
         "entry 2: \"\xC5\xBD \": 1 character that Mac OS Roman can't hold became \"?\"\n"},
        {FERRYLINE_MAC_TO_WIN, "\xEF\xBB\xBF\xE2\x82\xAC\xE2\x88\x9E <a>", "line 1: \"\xE2\x82\xAC\xE2\x88\x9E <a>\": 1 character that Windows-1252 can't hold became \"?\"\n"},
    };
    FerrylineOptions options = {1, FERRYLINE_CHARSET_AUTO, 0, 0, 0};
    for (const Case& c : cases) {
        FerrylineResult result;
        ASSERT_EQ(FERRYLINE_OK, ferryline_convert_bytes(c.direction, &options, c.book.data(), c.book.size(), "b", nullptr, &result));
        EXPECT_EQ(std::string(result.changes, result.changesSize), c.changes);
        ferryline_result_free(&result);
    }
}

}  // namespace
