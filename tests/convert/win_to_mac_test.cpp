#include <gtest/gtest.h>

#include "convert/ferryline.h"
#include "support/test_support.h"

namespace {

const char kRejected[] = "error: The file in.txt is not a Corvella W95 address book or is corrupt.";

struct BookCase {
    std::string w95;
    std::string mac;
};

TEST(WinToMac, WritesOneLinePerGroupAndAddressedEntry)
{
    const BookCase cases[] = {
        {"&Main #Bob ^A1 +", "Bob <A1>\r\n"},
        {"&Main #Bob Smith ^A1 &Friends #Ann ^A2 +", "Bob Smith <A1>\r\n\"Friends\" <GROUP@GROUP>\r\nAnn <A2>\r\n"},
        {"&Main #Dr. Who ^A3 +", "\"Dr. Who\" <A3>\r\n"},
        {"&Main #a,b ^x #a@b ^y #a b 1 ^z +", "\"a,b\" <x>\r\n\"a@b\" <y>\r\na b 1 <z>\r\n"},
        {"&Main #Bob +", ""},
        {"&Main +", ""},
        {"&Main #Bob ^A1 + anything #^&", "Bob <A1>\r\n"},
        {"&Main #^A1 +", " <A1>\r\n"},
        {"&&Friends +", "\"\" <GROUP@GROUP>\r\n\"Friends\" <GROUP@GROUP>\r\n"},
        {"&Main #Bob ^A1  +", "Bob <A1 >\r\n"},
        {"&Main#Bob^A1+", "Bob <A1>\r\n"},
        {"&Main #Bob ^x+y +", "Bob <x>\r\n"},
        {"&Main #Bob ^A1 &Friends #Ann ^A2 &Main #Cy ^A3 +",
         "Bob <A1>\r\n\"Friends\" <GROUP@GROUP>\r\nAnn <A2>\r\nCy <A3>\r\n"},
        {"&Main #Bob &Friends +", "\"Friends\" <GROUP@GROUP>\r\n"},
        {"&Main #A<B ^x +", "\"A<B\" <x>\r\n"},
        {"&Main # Bob\t\xE9 ^\x01\xFF +", " Bob\t\xE9 <\x01\xFF>\r\n"},
    };
    for (const BookCase& c : cases) {
        ConversionResult run = RunConverter(FERRYLINE_WIN_TO_MAC, c.w95);
        EXPECT_EQ(run.result, 1) << c.w95;
        EXPECT_EQ(run.output, c.mac) << c.w95;
        EXPECT_TRUE(run.messages.empty()) << c.w95;
        // With a line break ending every field, each entry takes the piecewise way, and reads the same.
        std::string broken;
        for (char ch : c.w95) {
            broken += ch == '#' || ch == '^' ? std::string("\r\n") + ch : std::string(1, ch);
        }
        EXPECT_EQ(RunConverter(FERRYLINE_WIN_TO_MAC, broken).output, c.mac) << broken;
    }
}

TEST(WinToMac, EachOfTheTwelveSpecialCharactersAndOnlyThoseQuoteAName)
{
    for (char special : std::string("()<>@,;:\\.[]")) {
        std::string name = std::string("a") + special + "b";
        ConversionResult run = RunConverter(FERRYLINE_WIN_TO_MAC, "&Main #" + name + " ^x +");
        EXPECT_EQ(run.output, "\"" + name + "\" <x>\r\n") << special;
    }
    for (char plain : std::string("!'\"?-_/{}|~*=%$0Zz\t\xA0")) {
        std::string name = std::string("a") + plain + "b";
        ConversionResult run = RunConverter(FERRYLINE_WIN_TO_MAC, "&Main #" + name + " ^x +");
        EXPECT_EQ(run.output, name + " <x>\r\n") << plain;
    }
}

TEST(WinToMac, OnlyAGroupNamedExactlyMainIsTheDefaultGroup)
{
    const BookCase cases[] = {
        {"&main #Bob ^A1 +", "\"main\" <GROUP@GROUP>\r\nBob <A1>\r\n"},
        {"&MAIN #Bob ^A1 +", "\"MAIN\" <GROUP@GROUP>\r\nBob <A1>\r\n"},
        {"&Main  #Bob ^A1 +", "\"Main \" <GROUP@GROUP>\r\nBob <A1>\r\n"},
        {"&Mai\r\nn #Bob ^A1 +", "Bob <A1>\r\n"},
        // A later "Main" gets no line: its entries join the group before it, which is told.
        {"&Main #Bob ^A1 &G #Ann ^A2 &Main #Cy ^A3 +", "Bob <A1>\r\n\"G\" <GROUP@GROUP>\r\nAnn <A2>\r\nCy <A3>\r\n"},
    };
    for (const BookCase& c : cases) {
        ConversionResult run = RunConverter(FERRYLINE_WIN_TO_MAC, c.w95);
        EXPECT_EQ(run.output, c.mac) << c.w95;
        EXPECT_EQ(run.changes.size(), c.w95.find("&Main ", 1) != std::string::npos ? 1u : 0u) << c.w95;
    }
}

TEST(WinToMac, LineBreaksInsideFieldsAreDropped)
{
    const BookCase cases[] = {
        {"&Main\r\n#Bob ^A1\r\n+", "Bob <A1>\r\n"},
        {"&Main \n#Bob Smith \r^A1 \r\n&Friends\n #Ann ^A2\n+\r\n", "Bob Smith <A1>\r\n\"Friends\" <GROUP@GROUP>\r\nAnn <A2>\r\n"},
        {"&Main #B\r\nob ^A\n1 +", "Bob <A1>\r\n"},
        {"&Main #Dr.\r\n Who ^A3 +", "\"Dr. Who\" <A3>\r\n"},
    };
    for (const BookCase& c : cases) {
        ConversionResult run = RunConverter(FERRYLINE_WIN_TO_MAC, c.w95);
        EXPECT_EQ(run.result, 1) << c.w95;
        EXPECT_EQ(run.output, c.mac) << c.w95;
    }
}

TEST(WinToMac, RejectsWhatIsNotACompleteBook)
{
    const std::string inputs[] = {
        "",
        "+",
        " &Main +",
        "\r\n&Main +",
        "&Main #Bob ^A1 ",
        "&Main #Bob #Ann ^A2 +",
        "&Main ^A1 +",
        "&Main #Bob ^A1 ^A2 +",
        std::string("&Main #Bob ^A1 \0+", 17),
        "Bob <A1>\r\n",
    };
    for (const std::string& input : inputs) {
        ConversionResult run = RunConverter(FERRYLINE_WIN_TO_MAC, input);
        EXPECT_EQ(run.result, 0) << input;
        EXPECT_FALSE(run.outputExists) << input;
        EXPECT_EQ(run.messages, std::vector<std::string>{kRejected}) << input;
    }
}

TEST(WinToMac, FieldsOfAnyLengthAreReadWhole)
{
    std::string name(1000, 'n');
    std::string group(300, 'g');
    std::string address(70000, 'a');
    ConversionResult run = RunConverter(FERRYLINE_WIN_TO_MAC, "&" + group + " #" + name + " ^" + address + " +");
    EXPECT_EQ(run.output, "\"" + group + "\" <GROUP@GROUP>\r\n" + name + " <" + address + ">\r\n");

    // Entries of every length around the 57 to 64 bytes found in one go, from every place of a word,
    // with and without quotes.
    for (size_t offset = 0; offset < 8; ++offset) {
        std::string w95 = "&" + std::string(offset + 1, 'g') + " ";
        std::string mac = "\"" + std::string(offset + 1, 'g') + "\" <GROUP@GROUP>\r\n";
        for (size_t length = 48; length < 72; ++length) {
            std::string entryName = std::string(length / 3, 'n') + (length % 2 != 0 ? "." : "");
            std::string entryAddress(length - entryName.size() - 5, 'a');
            w95 += "#" + entryName + " ^" + entryAddress + " ";
            mac += (length % 2 != 0 ? "\"" + entryName + "\"" : entryName) + " <" + entryAddress + ">\r\n";
        }
        EXPECT_EQ(RunConverter(FERRYLINE_WIN_TO_MAC, w95 + "+").output, mac) << offset;
    }
}

TEST(WinToMac, ReportsEachDroppedEntryWithItsName)
{
    ConversionResult run = RunConverter(FERRYLINE_WIN_TO_MAC, "&Main #Bob &G #Ann ^A2 #Cy +");
    EXPECT_EQ(run.output, "\"G\" <GROUP@GROUP>\r\nAnn <A2>\r\n");
    ASSERT_EQ(run.changes.size(), 2u);
    EXPECT_EQ(run.changes[0].kind, FERRYLINE_DROPPED_ENTRY);
    EXPECT_EQ(run.changes[0].line, 1u);
    EXPECT_EQ(run.changeTexts[0], "Bob");
    EXPECT_EQ(run.changes[1].line, 3u);
    EXPECT_EQ(run.changeTexts[1], "Cy");
}

}  // namespace
