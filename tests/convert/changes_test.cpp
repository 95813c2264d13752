// Every change a conversion lists, as -v and the Windows program's details show it: what the input held
// and what was written.
#include <gtest/gtest.h>

#include "convert/ferryline.h"
#include "support/test_support.h"

namespace {

struct ChangeCase {
    FerrylineDirection direction;
    const char* input;
    std::vector<std::string> lines;
};

TEST(Changes, EachKindTellsBeforeAndAfter)
{
    const ChangeCase cases[] = {
        {FERRYLINE_MAC_TO_WIN, "Bob <A1>\r\ncarl@example.org\r\n",
         {"line 2: no personal name, named \"No Name 01\": \"carl@example.org\" became \"No Name 01\" <carl@example.org>"}},
        {FERRYLINE_MAC_TO_WIN, "GROUP@GROUP",
         {"line 1: no personal name, named \"No Name 01\": \"GROUP@GROUP\" became group \"No Name 01\""}},
        {FERRYLINE_MAC_TO_WIN, "Finn & Co <finn+news@example.org>",
         {"line 1: reserved characters (&#^+) replaced with dashes: \"Finn & Co\" <finn+news@example.org> became "
          "\"Finn - Co\" <finn-news@example.org>; the address now reaches another mailbox, its \"+\" became \"-\""}},
        {FERRYLINE_MAC_TO_WIN, "\"A#B\" <a^b@x>",
         {"line 1: reserved characters (&#^+) replaced with dashes: \"A#B\" <a^b@x> became \"A-B\" <a-b@x>; "
          "the address now reaches another mailbox"}},
        {FERRYLINE_MAC_TO_WIN, "Tom & Jerry <tj@x>",
         {"line 1: reserved characters (&#^+) replaced with dashes: \"Tom & Jerry\" <tj@x> became \"Tom - Jerry\" <tj@x>"}},
        {FERRYLINE_MAC_TO_WIN, "\"R&D\" <GROUP@GROUP>",
         {"line 1: reserved characters (&#^+) replaced with dashes: group \"R&D\" became group \"R-D\""}},
        // A nameless line with a marker: both changes, the second with the placeholder it got.
        {FERRYLINE_MAC_TO_WIN, "a+b\r\nc",
         {"line 1: no personal name, named \"No Name 01\": \"a+b\" became \"No Name 01\" <a-b>",
          "line 1: reserved characters (&#^+) replaced with dashes: \"No Name 01\" <a+b> became \"No Name 01\" <a-b>; "
          "the address now reaches another mailbox, its \"+\" became \"-\"",
          "line 2: no personal name, named \"No Name 02\": \"c\" became \"No Name 02\" <c>"}},
        {FERRYLINE_MAC_TO_WIN, "\"Work\" <GROUP@GROUP>\r\nAnn <A1>\r\n\"Main\" <GROUP@GROUP>\r\nBo <A2>\r\n",
         {"line 3: group \"Main\" reads as the W95 default group; converted back, its entries join the group "
          "before it, \"Work\""}},
        {FERRYLINE_MAC_TO_WIN, "\"Main\" <GROUP@GROUP>\r\n",
         {"line 1: group \"Main\" reads as the W95 default group; converted back, its entries join the group "
          "before it, the default group"}},
        // Control bytes are escaped before and after; the byte order mark is not part of the line.
        {FERRYLINE_MAC_TO_WIN, "\xEF\xBB\xBF" "Esc\x1b <a+\x07>",
         {"line 1: reserved characters (&#^+) replaced with dashes: \"Esc\\x1b\" <a+\\x07> became \"Esc\\x1b\" "
          "<a-\\x07>; the address now reaches another mailbox, its \"+\" became \"-\""}},
        {FERRYLINE_WIN_TO_MAC, "&Main #Bob &G #Ann ^A2 #Cy +",
         {"entry 1: \"Bob\" left out, it has no address", "entry 3: \"Cy\" left out, it has no address"}},
        {FERRYLINE_WIN_TO_MAC, "&Main #Bob ^A1 &Work #Ann ^A2 &Main #Cy ^A3 &Main +",
         {"after entry 2: group \"Main\" has no line in a Mac book; its entries join the group before it, \"Work\"",
          "after entry 3: group \"Main\" has no line in a Mac book; its entries join the group before it, \"Work\""}},
        {FERRYLINE_WIN_TO_MAC, "&Main &Main #Cy ^A3 +",
         {"before entry 1: group \"Main\" has no line in a Mac book; its entries join the group before it, \"Main\""}},
        {FERRYLINE_WIN_TO_MAC, "&Friends #Bob ^A1 +", {}},
    };
    for (const ChangeCase& c : cases) {
        ConversionResult run = RunConverter(c.direction, c.input);
        EXPECT_EQ(run.result, 1) << c.input;
        EXPECT_EQ(run.changeLines, c.lines) << c.input;
    }
}

// Change lines are UTF-8 whatever the input's set: names decoded from the set the first look or the
// options chose, what does not decode and every control character escaped.
TEST(Changes, AreToldInUtf8WithEveryControlCharacterEscaped)
{
    const struct {
        FerrylineDirection direction;
        FerrylineOptions options;
        const char* input;
        const char* lines;
    } cases[] = {
        {FERRYLINE_MAC_TO_WIN, {0, FERRYLINE_CHARSET_AUTO, 0, 0, 0}, "Zo\x91 & Co <z@x>",
         "line 1: reserved characters (&#^+) replaced with dashes: \"Zo\xC3\xAB & Co\" <z@x> became \"Zo\xC3\xAB - Co\" <z@x>\n"},
        {FERRYLINE_MAC_TO_WIN, {0, FERRYLINE_CHARSET_WINDOWS_1252, 0, 0, 0}, "Zo\xEB & Co <z@x>",
         "line 1: reserved characters (&#^+) replaced with dashes: \"Zo\xC3\xAB & Co\" <z@x> became \"Zo\xC3\xAB - Co\" <z@x>\n"},
        {FERRYLINE_MAC_TO_WIN, {0, FERRYLINE_CHARSET_AUTO, 0, 0, 0}, "\xC5\x81ukasz+\xC2\x9B[7m <\xE5\x8C\x97\xE4\xBA\xAC>",
         "line 1: reserved characters (&#^+) replaced with dashes: \"\xC5\x81ukasz+\\u009b[7m\" <\xE5\x8C\x97\xE4\xBA\xAC> became "
         "\"\xC5\x81ukasz-\\u009b[7m\" <\xE5\x8C\x97\xE4\xBA\xAC>\n"},
        {FERRYLINE_MAC_TO_WIN, {0, FERRYLINE_CHARSET_UTF8, 0, 0, 0}, "Zo\x91+\x7F <z@x>",
         "line 1: reserved characters (&#^+) replaced with dashes: \"Zo\\x91+\\x7f\" <z@x> became \"Zo\\x91-\\x7f\" <z@x>\n"},
        {FERRYLINE_WIN_TO_MAC, {0, FERRYLINE_CHARSET_AUTO, 0, 0, 0}, "&Main #Zo\xEB\x81 &G +",
         "entry 1: \"Zo\xC3\xAB\\u0081\" left out, it has no address\n"},
        // Recoded, the converter reads the other edition's set.
        {FERRYLINE_MAC_TO_WIN, {1, FERRYLINE_CHARSET_AUTO, 0, 0, 0}, "Zo\x91+ <z@x>",
         "line 1: reserved characters (&#^+) replaced with dashes: \"Zo\xC3\xAB+\" <z@x> became \"Zo\xC3\xAB-\" <z@x>\n"},
        // An export tells its own changes, and none a conversion would make.
        {FERRYLINE_MAC_TO_VCARD, {0, FERRYLINE_CHARSET_AUTO, 0, 0, 0}, "z+1@x\r\n\"G\" <GROUP@GROUP>\r\nZo\x91\x1B <z@x>\r\n\"H\" <GROUP@GROUP>\r\nZo\x91\x1B <z@x>",
         "line 1: no personal name, exported with its address as its name: \"z+1@x\"\n"
         "line 3: \"Zo\xC3\xAB\\x1b\" <z@x> is listed more than once; exported as one contact in all its groups\n"
         "line 3: control characters written as spaces: \"Zo\xC3\xAB\\x1b\" <z@x>\n"},
        {FERRYLINE_WIN_TO_CSV, {0, FERRYLINE_CHARSET_AUTO, 0, 0, 0}, "&Main #Ann ^a@x #Bo &G #Ann ^a@x +",
         "entry 2: \"Bo\" left out, it has no address\n"
         "entry 1: \"Ann\" <a@x> is listed more than once; exported as one contact in all its groups\n"},
    };
    for (const auto& c : cases) {
        FerrylineResult result;
        ferryline_convert_bytes(c.direction, &c.options, c.input, strlen(c.input), "in", nullptr, &result);
        EXPECT_EQ(result.status, FERRYLINE_OK) << c.input;
        EXPECT_EQ(std::string(result.changes, result.changesSize), c.lines) << c.input;
        ferryline_result_free(&result);
    }
}

TEST(Changes, AFileTitleIsToldWithItsControlCharactersEscaped)
{
    FerrylineResult result;
    ferryline_convert_bytes(FERRYLINE_MAC_TO_WIN, nullptr, "&Main +", 7, "a\x1B[7mX\xC2\x9B.txt", nullptr, &result);
    ASSERT_EQ(result.messageCount, 1u);
    EXPECT_STREQ(result.messages[0].text,
                 "The file a\\x1b[7mX\\u009b.txt is a Corvella W95 address book, not a Macintosh one.");
    ferryline_result_free(&result);
    char shown[64];
    EXPECT_EQ(ferryline_shown_text("M\xFCller\n.txt", 11, shown, sizeof shown), 17u);
    EXPECT_STREQ(shown, "M\\xfcller\\x0a.txt");
}

// A book of more than 2^32 lines is beyond a test's memory; its change still names its line whole, on
// 64-bit Windows too, where a long has 32 bits.
TEST(Changes, LineNumbersPastFourBillionAreWhole)
{
    const uint64_t line = (uint64_t{1} << 32) + 5;
    const FerrylineChange change = {FERRYLINE_DROPPED_ENTRY, line, {"Bob", 3}, {nullptr, 0}, {nullptr, 0}};
    char text[128];
    ferryline_describe_change(&change, text, sizeof text);
    EXPECT_STREQ(text, "entry 4294967301: \"Bob\" left out, it has no address");
}

}  // namespace
