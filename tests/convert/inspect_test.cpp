// The first look every conversion takes (the wrong book, UTF-16, a byte order mark) and the close look
// of ferryline_inspect.
#include <gtest/gtest.h>

#include <inttypes.h>

#include "convert/ferryline.h"
#include "support/test_support.h"

namespace {

const char kUnicode[] =
    "error: The file in.txt is saved as Unicode (UTF-16) and can't be converted byte by byte.\n"
    "Save it as ANSI text, or have its accented letters converted.";
const char kW95AsMac[] = "error: The file in.txt is a Corvella W95 address book, not a Macintosh one.";
const char kMacAsW95[] = "error: The file in.txt is a Macintosh address book, not a Corvella W95 one.";

// ASCII `text` in UTF-16, little-endian or big-endian, with its byte order mark or without.
std::string Utf16(const std::string& text, bool littleEndian, bool mark)
{
    std::string bytes = mark ? (littleEndian ? "\xFF\xFE" : "\xFE\xFF") : "";
    for (char c : text) {
        bytes += littleEndian ? std::string{c, '\0'} : std::string{'\0', c};
    }
    return bytes;
}

std::string Bytes(const char* text, size_t size)
{
    return std::string(text, size);
}

struct BookCase {
    FerrylineDirection direction;
    std::string input;
    const char* refusal;  // null: converted
    const char* output;   // when converted
};

TEST(WrongBook, IsRefusedWithAClearMessageAndNothingWritten)
{
    const BookCase cases[] = {
        {FERRYLINE_MAC_TO_WIN, "&Main #Bob ^A1 +", kW95AsMac, nullptr},
        {FERRYLINE_MAC_TO_WIN, "\r\n  \n&Main #Bob ^A1 +", kW95AsMac, nullptr},
        {FERRYLINE_MAC_TO_WIN, "\xEF\xBB\xBF&Main +", kW95AsMac, nullptr},
        // Only "&Main " plainly makes a W95 book; a Mac name may start with '&'.
        {FERRYLINE_MAC_TO_WIN, "&Maine Smith <m@x>", nullptr, "&Main #-Maine Smith ^m@x +"},
        {FERRYLINE_MAC_TO_WIN, "x &Main <a>", nullptr, "&Main #x -Main ^a +"},
        {FERRYLINE_MAC_TO_WIN, Bytes("\xFF\xFE" "B\0o\0b\0", 8), kUnicode, nullptr},
        {FERRYLINE_WIN_TO_MAC, Bytes("\xFE\xFF\0&\0M", 6), kUnicode, nullptr},
        {FERRYLINE_MAC_TO_WIN, Bytes("B\0o\0b\0 \0<\0A\0>\0\r\0", 16), kUnicode, nullptr},
        {FERRYLINE_WIN_TO_MAC, Bytes("\0&\0M\0a\0i\0n\0 \0+\0\r", 16), kUnicode, nullptr},
        // A W95 book in UTF-16 is one all the same, and the exports refuse the other edition too.
        {FERRYLINE_MAC_TO_WIN, Utf16("&Main #Bob ^A1 +", true, false), kW95AsMac, nullptr},
        {FERRYLINE_MAC_TO_WIN, Utf16("&Main #Bob ^A1 +", false, true), kW95AsMac, nullptr},
        {FERRYLINE_MAC_TO_VCARD, "&Main #Bob ^A1 +", kW95AsMac, nullptr},
        {FERRYLINE_MAC_TO_CSV, Utf16("&Main #Bob ^A1 +", true, true), kW95AsMac, nullptr},
        {FERRYLINE_WIN_TO_VCARD, "Bob <A1>\r\n", kMacAsW95, nullptr},
        {FERRYLINE_WIN_TO_CSV, "&Maine Smith <m@x>", kMacAsW95, nullptr},
        {FERRYLINE_WIN_TO_MAC, "\xEF\xBB\xBF&Main #Bob ^A1 +", nullptr, "Bob <A1>\r\n"},
        {FERRYLINE_BOOK_TO_CSV, "&Maine Smith <m@x>", nullptr,
         "\xEF\xBB\xBF" "First Name,Last Name,E-mail Display Name,E-mail Address,Categories\r\n&Maine,Smith,&Maine Smith,m@x,\r\n"},
        // Fewer than 16 bytes are too few to tell: zero bytes end Mac lines as ever.
        {FERRYLINE_MAC_TO_WIN, Bytes("B\0<\0A\0>\0\r\0\n\0", 12), nullptr, "&Main #No Name 01 ^B # ^ #No Name 02 ^A #No Name 03 ^> +"},
        {FERRYLINE_MAC_TO_WIN, "\xEF\xBB\xBF" "Bob <A1>\r\n", nullptr, "&Main #Bob ^A1 +"},
    };
    for (const BookCase& c : cases) {
        ConversionResult run = RunConverter(c.direction, c.input);
        if (c.refusal != nullptr) {
            EXPECT_EQ(run.result, 0) << c.input;
            EXPECT_EQ(run.messages, std::vector<std::string>{c.refusal}) << c.input;
            EXPECT_FALSE(run.outputExists) << c.input;
        } else {
            EXPECT_EQ(run.result, 1) << c.input;
            EXPECT_EQ(run.output, c.output) << c.input;
        }
    }
}

// An inspection in one line: edition, complete, entries, groups, nameless, reserved, without address,
// Main groups, longest line@number, CR LF/LF/CR ends, zero bytes, bytes above 127, charset, mark.
std::string Summary(const std::string& book)
{
    FerrylineInspection i;
    ferryline_inspect(book.data(), book.size(), &i);
    const bool utf16 = i.look.charset == FERRYLINE_CHARSET_UTF16LE || i.look.charset == FERRYLINE_CHARSET_UTF16BE;
    const char* editions[] = {utf16 ? "mac-utf16" : "mac", utf16 ? "w95-utf16" : "w95"};
    const char* charsets[] = {"ascii", "utf8", "macroman", "cp1252"};
    char text[256];
    snprintf(text, sizeof text,
             "%s%s e%" PRIu64 " g%" PRIu64 " n%" PRIu64 " r%" PRIu64 " w%" PRIu64 " m%" PRIu64 " L%" PRIu64 "@%" PRIu64
             " ends%" PRIu64 "/%" PRIu64 "/%" PRIu64 " z%" PRIu64 " h%zu %s bom%d",
             editions[i.look.edition], i.complete ? "" : " incomplete", i.entries, i.groups, i.namelessLines,
             i.reservedLines, i.withoutAddress, i.mainGroups, i.longestLine, i.longestLineNumber, i.crlfEnds,
             i.lfEnds, i.crEnds, i.zeroBytes, i.look.bytesAbove127, charsets[i.charset],
             static_cast<int>(i.look.byteOrderMark));
    return text;
}

// The one first look, over the editions in every set a book comes in.
TEST(FirstLook, TellsTheEditionAndTheCharacterSetInEveryEncoding)
{
    const std::string w95 = "\r\n &Main #Zo ^z@x +";
    const std::string mac = "&Maine <m@x>\r\n";
    const struct {
        std::string bytes;
        FerrylineCharset chosen;
        FerrylineEdition edition;
        FerrylineCharset charset;
        int beyondAscii;  // letters a byte-by-byte copy would change; a UTF-8 mark alone is none
    } cases[] = {
        {w95, FERRYLINE_CHARSET_AUTO, FERRYLINE_EDITION_W95, FERRYLINE_CHARSET_WINDOWS_1252, 0},
        {mac, FERRYLINE_CHARSET_AUTO, FERRYLINE_EDITION_MAC, FERRYLINE_CHARSET_MAC_ROMAN, 0},
        {"\xEF\xBB\xBF" + w95, FERRYLINE_CHARSET_AUTO, FERRYLINE_EDITION_W95, FERRYLINE_CHARSET_UTF8, 0},
        {"\xEF\xBB\xBF" + mac, FERRYLINE_CHARSET_AUTO, FERRYLINE_EDITION_MAC, FERRYLINE_CHARSET_UTF8, 0},
        {Utf16(w95, true, true), FERRYLINE_CHARSET_AUTO, FERRYLINE_EDITION_W95, FERRYLINE_CHARSET_UTF16LE, 1},
        {Utf16(w95, true, false), FERRYLINE_CHARSET_AUTO, FERRYLINE_EDITION_W95, FERRYLINE_CHARSET_UTF16LE, 1},
        {Utf16(w95, false, true), FERRYLINE_CHARSET_AUTO, FERRYLINE_EDITION_W95, FERRYLINE_CHARSET_UTF16BE, 1},
        {Utf16(w95, false, false), FERRYLINE_CHARSET_AUTO, FERRYLINE_EDITION_W95, FERRYLINE_CHARSET_UTF16BE, 1},
        {Utf16(mac, true, true), FERRYLINE_CHARSET_AUTO, FERRYLINE_EDITION_MAC, FERRYLINE_CHARSET_UTF16LE, 1},
        {Utf16(mac, false, false), FERRYLINE_CHARSET_AUTO, FERRYLINE_EDITION_MAC, FERRYLINE_CHARSET_UTF16BE, 1},
        {"&Main Zo\xEB <z@x>", FERRYLINE_CHARSET_AUTO, FERRYLINE_EDITION_W95, FERRYLINE_CHARSET_WINDOWS_1252, 1},
        {"Zo\xC3\xAB <z@x>", FERRYLINE_CHARSET_AUTO, FERRYLINE_EDITION_MAC, FERRYLINE_CHARSET_UTF8, 1},
        {"Zo\xC3\xAB <z@x>", FERRYLINE_CHARSET_LATIN1, FERRYLINE_EDITION_MAC, FERRYLINE_CHARSET_LATIN1, 1},
        {w95, FERRYLINE_CHARSET_MAC_ROMAN, FERRYLINE_EDITION_W95, FERRYLINE_CHARSET_MAC_ROMAN, 0},
    };
    for (const auto& c : cases) {
        FerrylineLook look;
        ferryline_look(c.bytes.data(), c.bytes.size(), c.chosen, &look);
        EXPECT_EQ(look.edition, c.edition) << c.bytes;
        EXPECT_EQ(look.charset, c.charset) << c.bytes;
        EXPECT_EQ(ferryline_look_beyond_ascii(&look), c.beyondAscii) << c.bytes;
    }
}

// A conversion of bytes as they are decides the set after it, from the bytes above 127 it counted.
TEST(FirstLook, AConversionHandsBackTheCharacterSetItRead)
{
    const struct {
        FerrylineDirection direction;
        const char* input;
        FerrylineCharset charset;
    } cases[] = {
        {FERRYLINE_MAC_TO_WIN, "Bob <a@x>", FERRYLINE_CHARSET_MAC_ROMAN},
        {FERRYLINE_MAC_TO_WIN, "Zo\x91 <a@x>", FERRYLINE_CHARSET_MAC_ROMAN},
        {FERRYLINE_MAC_TO_WIN, "Zo\xC3\xAB <a@x>", FERRYLINE_CHARSET_UTF8},
        {FERRYLINE_WIN_TO_MAC, "&Main #Zo\xEB ^a@x +", FERRYLINE_CHARSET_WINDOWS_1252},
        {FERRYLINE_WIN_TO_MAC, "&Main #Bob ^a@x +", FERRYLINE_CHARSET_WINDOWS_1252},
        {FERRYLINE_MAC_TO_WIN, "&Main #Zo\xC3\xAB ^a@x +", FERRYLINE_CHARSET_UTF8},  // refused
    };
    for (const auto& c : cases) {
        FerrylineResult result;
        ferryline_convert_bytes(c.direction, nullptr, c.input, strlen(c.input), "in", nullptr, &result);
        EXPECT_EQ(result.look.charset, c.charset) << c.input;
        ferryline_result_free(&result);
    }
}

// Recoding reads a W95 book in UTF-16, and never takes it for a Mac one.
TEST(FirstLook, AW95BookInUtf16IsRecodedAsOne)
{
    const FerrylineOptions recode = {1, FERRYLINE_CHARSET_AUTO, 0, 0, 0};
    FerrylineResult result;
    std::string book = Utf16("&Main #Bob ^A1 &G #Ann ^A2 +", true, true);
    ASSERT_EQ(ferryline_convert_bytes(FERRYLINE_WIN_TO_MAC, &recode, book.data(), book.size(), "in", nullptr, &result),
              FERRYLINE_OK);
    EXPECT_EQ(std::string(result.output, result.outputSize), "Bob <A1>\r\n\"G\" <GROUP@GROUP>\r\nAnn <A2>\r\n");
    ferryline_result_free(&result);
    EXPECT_EQ(ferryline_convert_bytes(FERRYLINE_MAC_TO_WIN, &recode, book.data(), book.size(), "in", nullptr, &result),
              FERRYLINE_WRONG_EDITION);
    EXPECT_EQ(result.look.edition, FERRYLINE_EDITION_W95);
    ferryline_result_free(&result);
}

TEST(Inspect, CountsWhatABookHolds)
{
    const std::pair<std::string, const char*> cases[] = {
        {"", "mac e0 g0 n0 r0 w0 m0 L0@1 ends0/0/0 z0 h0 ascii bom0"},
        {"Bob <A1>\r\nplain\n\"Work\" <GROUP@GROUP>\rA&B <x>\r\nNo <>\r\n\"Main\" <GROUP@GROUP>",
         "mac e4 g2 n1 r1 w1 m1 L20@3 ends3/1/1 z0 h0 ascii bom0"},
        {Bytes("Bob <A1>\0\0Ann <A2>\r\n", 20), "mac e2 g0 n0 r0 w0 m0 L18@1 ends1/0/0 z2 h0 ascii bom0"},
        {"Ren\x8E C\x99t\x8E <r@x>", "mac e1 g0 n0 r0 w0 m0 L15@1 ends0/0/0 z0 h3 macroman bom0"},
        {"Ren\xE9 C\xF4t\xE9 <r@x>\r\n\x93q\x94 <q@x>", "mac e2 g0 n0 r0 w0 m0 L15@1 ends1/0/0 z0 h5 cp1252 bom0"},
        {"\xEF\xBB\xBFRen\xC3\xA9 <r@x>", "mac e1 g0 n0 r0 w0 m0 L14@1 ends0/0/0 z0 h5 utf8 bom1"},
        {"&Main #Bob ^A1 #^A2 &Work #Cy &Main #Di ^A4 +", "w95 e4 g2 n1 r0 w1 m1 L45@1 ends0/0/0 z0 h0 ascii bom0"},
        {"&Main #Bob ^A1 ", "w95 incomplete e1 g0 n0 r0 w0 m0 L15@1 ends0/0/0 z0 h0 ascii bom0"},
        {"\r\n&Main #Bob ^A1 +", "w95 incomplete e1 g0 n0 r0 w0 m0 L16@2 ends1/0/0 z0 h0 ascii bom0"},
        {Bytes("\xFF\xFE" "B\0o\0b\0", 8), "mac-utf16 e0 g0 n0 r0 w0 m0 L8@1 ends0/0/0 z3 h2 cp1252 bom2"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Summary(c.first), c.second) << c.first;
    }
    // Counted eight bytes at a time, in batches that must not overflow.
    FerrylineInspection many;
    const std::string high = "x" + std::string(4099, '\xE9') + "\x80";
    ferryline_inspect(high.data(), high.size(), &many);
    EXPECT_EQ(many.look.bytesAbove127, 4100u);
}

// A conversion counts them as it classifies its input, chunk by chunk: every byte once, those it never
// reaches (after a W95 book's end, in a refused book) and a byte order mark it skips included.
TEST(Inspect, AConversionCountsTheBytesAbove127AsTheFirstLookDoes)
{
    uint32_t seed = 7;
    auto text = [&seed](size_t size) {
        std::string bytes;
        for (size_t i = 0; i < size; ++i) {
            seed = seed * 1664525u + 1013904223u;
            bytes += (seed >> 24) % 5 == 0 ? static_cast<char>(0x80 + (seed >> 8) % 128) : static_cast<char>('a' + i % 26);
        }
        return bytes;
    };
    std::string macLines;
    for (size_t i = 0; i < 400; ++i) {
        macLines += text(i % 50) + " <" + text(i % 13) + ">\r\n";
    }
    std::string w95Entries;
    for (size_t i = 0; i < 400; ++i) {
        w95Entries += "#" + text(i % 40) + " ^" + text(i % 17) + " ";
    }
    const std::pair<FerrylineDirection, std::string> books[] = {
        {FERRYLINE_MAC_TO_WIN, macLines},
        {FERRYLINE_MAC_TO_WIN, "\xEF\xBB\xBF" + macLines},
        {FERRYLINE_MAC_TO_WIN, text(9000) + " <" + text(5000) + ">\r\n" + macLines},
        {FERRYLINE_MAC_TO_WIN, "&Main " + w95Entries + "+"},  // refused
        {FERRYLINE_WIN_TO_MAC, "&Main " + w95Entries + "+" + text(9000)},
        {FERRYLINE_WIN_TO_MAC, "&Main #" + text(9000) + " ^" + text(100) + " " + w95Entries + "+"},
    };
    for (const auto& book : books) {
        FerrylineInspection inspection;
        ferryline_inspect(book.second.data(), book.second.size(), &inspection);
        FerrylineResult result;
        ferryline_convert_bytes(book.first, nullptr, book.second.data(), book.second.size(), "in.txt", nullptr, &result);
        size_t counted = result.look.bytesAbove127;
        ferryline_result_free(&result);
        EXPECT_GT(inspection.look.bytesAbove127, 1000u);
        EXPECT_EQ(counted, inspection.look.bytesAbove127) << book.second.substr(0, 40);
    }
}

}  // namespace
