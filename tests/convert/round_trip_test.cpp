// Properties over many generated address books: what one converter writes, the other reads back.
#include <gtest/gtest.h>

#include <random>

#include "convert/ferryline.h"
#include "support/test_support.h"

using namespace ferryline;

namespace {

const int kBooks = 300;

// Bytes a Mac file may hold anywhere, line ends, zero bytes, markers and quotes included.
std::string RandomMacBook(std::mt19937* random)
{
    static const char kPieces[] = "ab <>\"&#^+@.\r\n\t\xE9";
    std::uniform_int_distribution<int> length(0, 400);
    // The terminating '\0' is the last piece that may be picked.
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof kPieces) - 1);
    std::string book;
    for (int i = length(*random); i > 0; --i) {
        book += kPieces[pick(*random)];
    }
    return book;
}

// Field text without markers, quotes or line ends; `specials` lets in the characters that need quoting.
std::string RandomText(std::mt19937* random, int maxLength)
{
    static const char kPieces[] = "abcXYZ019 \t\xE9\xFF()<>@,;:\\.[]";
    std::uniform_int_distribution<int> length(0, maxLength);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof kPieces) - 2);
    std::string text;
    for (int i = length(*random); i > 0; --i) {
        text += kPieces[pick(*random)];
    }
    return text;
}

std::string RandomName(std::mt19937* random)
{
    std::string name = RandomText(random, 40);
    while (!name.empty() && name.back() == ' ') {
        name.pop_back();
    }
    return name;
}

// A line break dropped in here and there, as an editor might have broken the stream.
std::string WithLineBreaks(std::mt19937* random, const std::string& field)
{
    std::uniform_int_distribution<int> chance(0, 9);
    std::string broken;
    for (char c : field) {
        if (chance(*random) == 0) {
            broken += chance(*random) < 5 ? "\r\n" : "\n";
        }
        broken += c;
    }
    return broken;
}

// A W95 book whose names and group names hold no quote and do not end in a space.
std::string RandomW95Book(std::mt19937* random)
{
    std::uniform_int_distribution<int> items(0, 30);
    std::uniform_int_distribution<int> kind(0, 9);
    std::string book = "&Main ";
    for (int i = items(*random); i > 0; --i) {
        int k = kind(*random);
        if (k == 0) {
            book += "&" + WithLineBreaks(random, RandomName(random)) + " ";
        } else if (k == 1) {
            // An entry without an address is only accepted before a group or the end.
            book += "#" + RandomName(random) + " &" + RandomName(random) + " ";
        } else {
            book += "#" + WithLineBreaks(random, RandomName(random)) + " ^" +
                    WithLineBreaks(random, RandomText(random, 60)) + " ";
        }
    }
    return book + "+";
}

TEST(RoundTrip, EveryW95StreamWrittenIsReadBackAsComplete)
{
    std::mt19937 random(20261207);
    for (int i = 0; i < kBooks; ++i) {
        std::string mac = RandomMacBook(&random);
        ConversionResult w95 = RunConverter(FERRYLINE_MAC_TO_WIN, mac);
        ASSERT_EQ(w95.result, 1);
        ConversionResult back = RunConverter(FERRYLINE_WIN_TO_MAC, w95.output);
        ASSERT_EQ(back.result, 1) << "input: " << mac << "\nW95: " << w95.output;
        EXPECT_TRUE(back.messages.empty());
    }
}

TEST(RoundTrip, MacBooksWrittenConvertToW95AndBackToTheSameBytes)
{
    std::mt19937 random(7);
    for (int i = 0; i < kBooks; ++i) {
        std::string w95 = RandomW95Book(&random);
        ConversionResult mac = RunConverter(FERRYLINE_WIN_TO_MAC, w95);
        ASSERT_EQ(mac.result, 1) << w95;
        ConversionResult again = RunConverter(FERRYLINE_MAC_TO_WIN, mac.output);
        ASSERT_EQ(again.result, 1);
        ConversionResult back = RunConverter(FERRYLINE_WIN_TO_MAC, again.output);
        ASSERT_EQ(back.result, 1);
        EXPECT_EQ(back.output, mac.output) << "W95: " << w95 << "\nMac: " << mac.output;
        EXPECT_TRUE(again.messages.empty()) << mac.output;
    }
}

}  // namespace
