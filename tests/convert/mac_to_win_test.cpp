#include <gtest/gtest.h>

#include <string.h>

#include "convert/ferryline.h"
#include "support/test_support.h"

namespace {

const char kReplacedWarning[] =
    "warning: Some of the addresses contained invalid characters (&#^+).\nThese characters were replaced with dashes.";
const char kNoNameWarning[] =
    "warning: Some of the addresses did not have personal names, which are\nrequired by Corvella for Windows. "
    "These now have \"No Name ##\"\nas their names so you will need to fix them within Corvella.";

struct LineCase {
    const char* macLine;
    const char* w95Item;
};

std::string Repeated(const std::string& text, int times)
{
    std::string all;
    for (int i = 0; i < times; ++i) {
        all += text;
    }
    return all;
}

// One Mac line between the header and the trailer.
std::string W95Of(const std::string& items)
{
    return "&Main " + items + "+";
}

TEST(MacToWin, SplitsEachLineIntoNameAndAddress)
{
    const LineCase cases[] = {
        {"Bob Smith <A1>", "#Bob Smith ^A1 "},
        {"\"Bob Smith\" <A1>", "#Bob Smith ^A1 "},
        {"\"Bob Smith \"  <A1>", "#Bob Smith ^A1 "},
        {"\"Dr. Who\" <A2>", "#Dr. Who ^A2 "},
        {"<A1>", "# ^A1 "},
        {"<>", "# ^ "},
        {" Bob <A1>", "# Bob ^A1 "},
        {"Bob <A1> ", "#Bob ^A1>  "},
        {"Bob <a<b>>", "#Bob ^a<b> "},
        {"Bob\t\xE9 <a\x01\xFF>", "#Bob\t\xE9 ^a\x01\xFF "},
        {"\"Friends\" <GROUP@GROUP>", "&Friends "},
        {"\"Friends\" <group@group>", "#Friends ^group@group "},
        {"\"Main\" <GROUP@GROUP>", "&Main "},
        // A quoted name may hold '<'; the split comes after its closing quote.
        {"\"A<B\" <x>", "#A<B ^x "},
        {"\"A<B\"<x>", "#A<B ^x "},
        {"\"A<B <x>", "#A ^B <x "},
        {"\"a\" b <c>", "#a\" b ^c "},
        {"Bob \" \" <A1>", "#Bob ^A1 "},
        {"\"\" <A1>", "# ^A1 "},
        {"\" \"<A1>", "# ^A1 "},
        {"A&B <a#b^c+d>", "#A-B ^a-b-c-d "},
        {"Seventeen chars A&B <address-with-more+x>", "#Seventeen chars A-B ^address-with-more-x "},
        // Markers in a quoted name, and past the eighth byte of a short field.
        {"\"Q&A, Inc\" <x>", "#Q-A, Inc ^x "},
        {"\"Name with&amp\" <a@b>", "#Name with-amp ^a@b "},
        {"Bob <abcdefghij+k@x>", "#Bob ^abcdefghij-k@x "},
        // An address alone gets a placeholder name.
        {"plain@address", "#No Name 01 ^plain@address "},
        {"\"quoted alone", "#No Name 01 ^\"quoted alone "},
        {"a+b>", "#No Name 01 ^a-b> "},
        {"GROUP@GROUP", "&No Name 01 "},
        {"\"&Friends\" <GROUP@GROUP>", "&-Friends "},
        {"Bob <GROUP@GROUP>>", "#Bob ^GROUP@GROUP> "},
        // Around the lengths a field and a line are copied at once: 32 and 64 bytes.
        {"Forty characters of a name 1234567890123 <a@b>", "#Forty characters of a name 1234567890123 ^a@b "},
        {"Forty characters of a name 1234567890123 <a-23-character-mail..>",
         "#Forty characters of a name 1234567890123 ^a-23-character-mail.. "},
        {"Forty characters of a name 1234567890123 <a-24-character-mail...>",
         "#Forty characters of a name 1234567890123 ^a-24-character-mail... "},
    };
    // A line converts the same whether it ends the book or more lines follow, as they do for nearly
    // every line of a book and as the converter's shorter ways for a common line need.
    const std::string following = Repeated("Pad <p>\r\n", 16);
    const std::string followingItems = Repeated("#Pad ^p ", 16);
    for (const LineCase& c : cases) {
        ConversionResult last = RunConverter(FERRYLINE_MAC_TO_WIN, std::string(c.macLine) + "\r\n");
        EXPECT_EQ(last.result, 1) << c.macLine;
        EXPECT_EQ(last.output, W95Of(c.w95Item)) << c.macLine;
        EXPECT_EQ(last.messages.empty(), strpbrk(c.macLine, "&#^+") == nullptr && strchr(c.macLine, '<') != nullptr)
            << c.macLine;
        ConversionResult followed = RunConverter(FERRYLINE_MAC_TO_WIN, std::string(c.macLine) + "\r\n" + following);
        EXPECT_EQ(followed.output, W95Of(c.w95Item + followingItems)) << c.macLine;
        EXPECT_EQ(followed.messages, last.messages) << c.macLine;
        EXPECT_EQ(followed.changeLines, last.changeLines) << c.macLine;
    }
}

TEST(MacToWin, ReadsEveryKindOfLineEnd)
{
    const char* inputs[] = {
        "Bob <A1>\r\nAnn <A2>\r\n", "Bob <A1>\rAnn <A2>\r", "Bob <A1>\nAnn <A2>", "\r\n\r\nBob <A1>\n\n\rAnn <A2>\r\n\r\n",
    };
    // Also between runs of common lines, which the converter takes in a loop of their own.
    const std::string pad = Repeated("Pad <p>\r\n", 16);
    const std::string padItems = Repeated("#Pad ^p ", 16);
    for (const char* input : inputs) {
        ConversionResult run = RunConverter(FERRYLINE_MAC_TO_WIN, input);
        EXPECT_EQ(run.output, W95Of("#Bob ^A1 #Ann ^A2 ")) << input;
        run = RunConverter(FERRYLINE_MAC_TO_WIN, pad + input + "\r\n" + pad);
        EXPECT_EQ(run.output, W95Of(padItems + "#Bob ^A1 #Ann ^A2 " + padItems)) << input;
    }
}

TEST(MacToWin, EmptyBooksGiveOnlyHeaderAndTrailer)
{
    for (const char* input : {"", "\r\n", "\n\n\r\r\r\n"}) {
        ConversionResult run = RunConverter(FERRYLINE_MAC_TO_WIN, input);
        EXPECT_EQ(run.result, 1);
        EXPECT_EQ(run.output, "&Main +");
        EXPECT_TRUE(run.messages.empty());
    }
}

TEST(MacToWin, NamelessLinesGetNumberedPlaceholdersAndOneWarning)
{
    ConversionResult run = RunConverter(FERRYLINE_MAC_TO_WIN, "A1\r\nBob <A2>\r\nA3\r\nGROUP@GROUP\r\n");
    EXPECT_EQ(run.output, W95Of("#No Name 01 ^A1 #Bob ^A2 #No Name 02 ^A3 &No Name 03 "));
    EXPECT_EQ(run.messages, std::vector<std::string>{kNoNameWarning});
}

TEST(MacToWin, PlaceholderNumbersGrowPastTwoDigits)
{
    std::string input;
    for (int i = 0; i < 100; ++i) {
        input += "a\n";
    }
    ConversionResult run = RunConverter(FERRYLINE_MAC_TO_WIN, input);
    EXPECT_NE(run.output.find("#No Name 09 ^a #No Name 10 ^a "), std::string::npos);
    EXPECT_NE(run.output.find("#No Name 99 ^a #No Name 100 ^a +"), std::string::npos);
}

TEST(MacToWin, MarkersBecomeDashesWithAWarning)
{
    ConversionResult run = RunConverter(FERRYLINE_MAC_TO_WIN, "A&B <a#b^c+d>\r\n");
    EXPECT_EQ(run.output, W95Of("#A-B ^a-b-c-d "));
    EXPECT_EQ(run.messages, std::vector<std::string>{kReplacedWarning});
}

TEST(MacToWin, BothWarningsComeInOrder)
{
    ConversionResult run = RunConverter(FERRYLINE_MAC_TO_WIN, "a+b\r\n");
    EXPECT_EQ(run.output, W95Of("#No Name 01 ^a-b "));
    EXPECT_EQ(run.messages, (std::vector<std::string>{kReplacedWarning, kNoNameWarning}));
}

TEST(MacToWin, LongLinesStayWhole)
{
    std::string name(300, 'n');
    std::string address(5000, 'a');
    ConversionResult run = RunConverter(FERRYLINE_MAC_TO_WIN, name + " <" + address + ">\r\n" + std::string(300, 'x'));
    EXPECT_EQ(run.output, W95Of("#" + name + " ^" + address + " #No Name 01 ^" + std::string(300, 'x') + " "));

    // Lines of every length around the 57 to 64 bytes found in one go, from every place of a word.
    for (size_t offset = 0; offset < 8; ++offset) {
        std::string mac = std::string(offset, '\n');
        std::string w95;
        for (size_t length = 48; length < 72; ++length) {
            std::string lineName(length / 3, 'n');
            std::string lineAddress(length - lineName.size() - 3, 'a');
            mac += lineName + " <" + lineAddress + ">\r\n";
            w95 += "#" + lineName + " ^" + lineAddress + " ";
        }
        EXPECT_EQ(RunConverter(FERRYLINE_MAC_TO_WIN, mac).output, W95Of(w95)) << offset;
    }
}

TEST(MacToWin, ZeroBytesEndLinesAndTheScanGoesOn)
{
    std::string input("Bob <A1>\0Ann <A2>\r\n\0\0Cy <A3>\0", 30);
    ConversionResult run = RunConverter(FERRYLINE_MAC_TO_WIN, input);
    EXPECT_EQ(run.output, W95Of("#Bob ^A1 #Ann ^A2 #Cy ^A3 "));
}

TEST(MacToWin, EveryRunStartsFresh)
{
    RunConverter(FERRYLINE_MAC_TO_WIN, "a\r\nb&\r\n");
    ConversionResult run = RunConverter(FERRYLINE_MAC_TO_WIN, "c\r\nBob <A1>\r\n");
    EXPECT_EQ(run.output, W95Of("#No Name 01 ^c #Bob ^A1 "));
    EXPECT_EQ(run.messages, std::vector<std::string>{kNoNameWarning});
}

TEST(MacToWin, ReportsLineNumbersOfChangesAsAnEditorCountsThem)
{
    // Alone, and after and between runs of common lines.
    const std::string pad = Repeated("Pad <p>\r\n", 16);
    for (unsigned long padLines : {0ul, 16ul}) {
        const std::string padding = padLines != 0 ? pad : "";
        ConversionResult run = RunConverter(FERRYLINE_MAC_TO_WIN, padding + "Bob <A1>\r\n\r\nplain\rA&B <x>\n" + padding +
                                                                      "C <y>\r\nlast+");
        ASSERT_EQ(run.changes.size(), 4u);
        EXPECT_EQ(run.changes[0].kind, FERRYLINE_PLACEHOLDER_NAME);
        EXPECT_EQ(run.changes[0].line, padLines + 3);
        EXPECT_EQ(run.changeTexts[0], "No Name 01");
        EXPECT_EQ(run.changes[1].kind, FERRYLINE_RESERVED_REPLACED);
        EXPECT_EQ(run.changes[1].line, padLines + 4);
        EXPECT_EQ(run.changes[2].kind, FERRYLINE_PLACEHOLDER_NAME);
        EXPECT_EQ(run.changes[2].line, 2 * padLines + 6);
        EXPECT_EQ(run.changes[3].kind, FERRYLINE_RESERVED_REPLACED);
        EXPECT_EQ(run.changes[3].line, 2 * padLines + 6);
    }
}

}  // namespace
