// The converters' fast paths against their editions' grammars: on generated and random books, each
// writes exactly what writing the grammar's lines or items gives, and reports the same changes.
#include <gtest/gtest.h>

#include <random>
#include <string.h>

#include "convert/ferryline.h"

#include "convert/format.h"
#include "convert/scan.h"
#include "support/grammar_writers.h"

namespace {

struct Converted {
    int ok;
    std::string output;
    std::string changes;
};

Converted Convert(FerrylineDirection direction, const std::string& input)
{
    FerrylineResult result;
    ferryline_convert_bytes(direction, nullptr, input.data(), input.size(), "book", nullptr, &result);
    Converted converted = {result.status == FERRYLINE_OK ? 1 : 0, std::string(result.output, result.outputSize),
                           std::string(result.changes != nullptr ? result.changes : "", result.changesSize)};
    ferryline_result_free(&result);
    return converted;
}

std::string Pick(std::mt19937* random, const std::vector<std::string>& from)
{
    return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(*random)];
}

// A name or an address: mostly short, now and then longer than the fast paths take.
std::string RandomText(std::mt19937* random, const char* pieces)
{
    std::uniform_int_distribution<int> longOne(0, 15);
    std::uniform_int_distribution<int> length(0, longOne(*random) == 0 ? 150 : 20);
    std::uniform_int_distribution<size_t> pick(0, strlen(pieces) - 1);
    std::string text;
    for (int i = length(*random); i > 0; --i) {
        text += pieces[pick(*random)];
    }
    return text;
}

// Lines of every shape the grammar knows, with every kind of line end.
std::string GeneratedMacBook(std::mt19937* random)
{
    const char* kName = "Bob Smith.,()&+";
    const char* kAddress = "bob@example.org&#^+";
    std::vector<std::string> ends = {"\r\n", "\r\n", "\r\n", "\n", "\r", "\r\n\r\n", std::string(1, '\0'), " \r\n"};
    std::string book = std::uniform_int_distribution<int>(0, 20)(*random) == 0 ? "\xEF\xBB\xBF" : "";
    for (int i = std::uniform_int_distribution<int>(0, 300)(*random); i > 0; --i) {
        std::string name = RandomText(random, kName);
        std::string address = RandomText(random, kAddress);
        std::vector<std::string> lines = {
            name + " <" + address + ">",      "\"" + name + "\" <" + address + ">",
            name + " <" + address + ">",      address,
            "\"" + name + "\" <GROUP@GROUP>", "\"Main\" <GROUP@GROUP>",
            "GROUP@GROUP",                    "\"" + name + "\"\" <" + address,
            "\"a < b\" <" + address + ">>",   name + "  \" <" + address + ">",
            "\"" + name + " <" + address + ">"};
        book += Pick(random, lines) + Pick(random, ends);
    }
    return book;
}

// Items of every kind, fields with specials and line breaks, now and then a book cut short.
std::string GeneratedW95Book(std::mt19937* random)
{
    const char* kField = "Ann Lee.,()<>\r\n";
    std::string book = "&Main ";
    for (int i = std::uniform_int_distribution<int>(0, 300)(*random); i > 0; --i) {
        std::string name = RandomText(random, kField);
        std::vector<std::string> items = {"#" + name + " ^" + RandomText(random, kField) + " ",
                                          "#" + name + " ^" + RandomText(random, kField) + " ",
                                          "#" + name + " ^" + RandomText(random, kField) + "\r\n",
                                          "&" + name + " ",
                                          "&Main ",
                                          "&Ma\r\nin ",
                                          "#" + name + " &" + name + " "};
        book += Pick(random, items);
    }
    return std::uniform_int_distribution<int>(0, 20)(*random) == 0 ? book : book + "+";
}

std::string RandomBytes(std::mt19937* random, const std::string& start)
{
    static const char kPieces[] = "ab <>\"&#^+@.,\r\n\t\xE9";
    std::string book = start;
    std::uniform_int_distribution<size_t> pick(0, sizeof kPieces - 1);  // the '\0' too
    for (int i = std::uniform_int_distribution<int>(0, 3000)(*random); i > 0; --i) {
        book += kPieces[pick(*random)];
    }
    return book;
}

void ExpectSameAsGrammar(FerrylineDirection direction, const std::string& input)
{
    GrammarConversion expected = direction == FERRYLINE_MAC_TO_WIN ? W95FromGrammar(input) : MacFromGrammar(input);
    Converted converted = Convert(direction, input);
    ASSERT_EQ(converted.ok, expected.ok ? 1 : 0) << input;
    ASSERT_EQ(converted.output, expected.output) << input;
    ASSERT_EQ(converted.changes, expected.changes) << input;
}

TEST(Grammar, FastPathsWriteWhatTheGrammarsEntriesGiveWithTheSameChanges)
{
    std::mt19937 random(20261208);
    for (int i = 0; i < 400; ++i) {
        std::string mac = i % 2 == 0 ? GeneratedMacBook(&random) : RandomBytes(&random, "");
        if (mac.compare(0, 6, "&Main ") == 0) {
            continue;  // refused as a W95 book
        }
        ExpectSameAsGrammar(FERRYLINE_MAC_TO_WIN, mac);
        ExpectSameAsGrammar(FERRYLINE_WIN_TO_MAC, Convert(FERRYLINE_MAC_TO_WIN, mac).output);
        std::string w95 = i % 2 == 0 ? GeneratedW95Book(&random) : RandomBytes(&random, "&Main ");
        ExpectSameAsGrammar(FERRYLINE_WIN_TO_MAC, w95);
        ExpectSameAsGrammar(FERRYLINE_MAC_TO_WIN, Convert(FERRYLINE_WIN_TO_MAC, w95).output);
    }
}

// The byte classifiers find the characters that make a name quoted by their own tables; every byte
// value is classified as the one list of them says.
TEST(Grammar, TheClassifiersQuoteWhatTheListOfNameSpecialsQuotes)
{
    std::vector<ClassifyFunction> classifiers = {ClassifyW95Bytes};
    Classifiers wide;
    if (GetSse2Classifiers(&wide)) {
        classifiers.push_back(wide.w95);
    }
    if (GetAvx2Classifiers(&wide)) {
        classifiers.push_back(wide.w95);
    }
    // Every value at every place of a 64-byte block, so that the wide paths classify it too.
    for (ClassifyFunction classify : classifiers) {
        for (int value = 0; value < 256; ++value) {
            char block[64];
            memset(block, value, sizeof block);
            ChunkClasses classes;
            classify(block, sizeof block, &classes);
            bool special = value != 0 && strchr(kNameSpecials, value) != nullptr;
            EXPECT_EQ(classes.third[0], special ? ~uint64_t{0} : 0) << value;
            EXPECT_EQ(NeedsQuotes(block, 1), special) << value;
        }
    }
}

}  // namespace
