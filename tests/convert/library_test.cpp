// The library's own interface: conversion in memory, what it does when the writer or the allocator
// refuses, conversions on two threads at once, the collected result, and its use from C.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>
#include <thread>
#include <vector>

#include "c_api.h"
#include "convert/ferryline.h"
#include "support/test_support.h"

namespace {

const char kWriteFailed[] = "error: Could not write to output file";
const char kNoMemory[] = "error: Could not allocate memory to convert the file";

// A book large enough that its output reaches the writer in several pieces.
std::string LargeMacBook()
{
    std::string book;
    for (int i = 0; book.size() < 700 * 1000; ++i) {
        book += "Person " + std::to_string(i) + " <person" + std::to_string(i) + "@example.org>\r\n";
        if (i % 50 == 0) {
            book += "\"Group " + std::to_string(i) + "\" <GROUP@GROUP>\r\nnameless" + std::to_string(i) + "@x\r\n";
        }
    }
    return book;
}

// What one conversion in memory told and handed on, with a writer that refuses on request.
struct Sink {
    std::string output;
    std::vector<std::string> messages;
    int pieces;
    int refuseAt;       // the piece to refuse, 0 for none
    FerrylineStatus refusal;  // what the writer answers then
    int piecesAfterRefusal;
    int allocCalls;
    int failAllocAt;    // the new or larger block to refuse, 0 for none
    int blocksHeld;
};

Sink MakeSink()
{
    return Sink{std::string(), {}, 0, 0, FERRYLINE_COULD_NOT_WRITE, 0, 0, 0, 0};
}

FerrylineStatus TakePiece(void* context, const void* data, size_t size)
{
    Sink* sink = static_cast<Sink*>(context);
    if (sink->refuseAt != 0 && sink->pieces >= sink->refuseAt) {
        ++sink->piecesAfterRefusal;
    }
    if (++sink->pieces == sink->refuseAt) {
        return sink->refusal;
    }
    sink->output.append(static_cast<const char*>(data), size);
    return FERRYLINE_OK;
}

void TakeMessage(void* context, FerrylineMessageKind kind, const char* text)
{
    static_cast<Sink*>(context)->messages.push_back(RecordedMessage(kind, text));
}

void* SinkAlloc(void* context, void* block, size_t oldSize, size_t newSize)
{
    Sink* sink = static_cast<Sink*>(context);
    if (newSize > oldSize && ++sink->allocCalls == sink->failAllocAt) {
        return nullptr;
    }
    sink->blocksHeld += (block == nullptr ? 1 : 0) - (newSize == 0 ? 1 : 0);
    if (newSize == 0) {
        free(block);
        return nullptr;
    }
    return realloc(block, newSize);
}

FerrylineStatus Convert(FerrylineDirection direction, const std::string& input, Sink* sink)
{
    FerrylineListener listener = {sink, TakeMessage, nullptr};
    FerrylineEnv env = {SinkAlloc, sink, &listener};
    return ferryline_convert(direction, nullptr, input.data(), input.size(), "book", TakePiece, sink, &env, nullptr);
}

TEST(Library, ARefusedPieceEndsTheConversionWithItsMessageAlone)
{
    std::string mac = LargeMacBook();
    Sink clean = MakeSink();
    ASSERT_EQ(Convert(FERRYLINE_MAC_TO_WIN, mac, &clean), FERRYLINE_OK);
    // A record longer than the output block goes to the writer in pieces of its own, around the block.
    std::string longName(600 * 1000, 'n');
    std::string longLine = "Ann <a@x>\r\nLong " + longName + " <long@x>\r\nBo <b@x>\r\n";
    std::string longMarked = "Ann <a@x>\r\n\"Long & " + longName + "\" <long@x>\r\nBo <b@x>\r\n";
    std::string longEntry = "&Main #Ann ^a@x #" + longName + " ^long@x #Bo ^b@x +";

    const struct {
        FerrylineDirection direction;
        const std::string* input;
    } books[] = {{FERRYLINE_MAC_TO_WIN, &mac},        {FERRYLINE_WIN_TO_MAC, &clean.output},
                 {FERRYLINE_MAC_TO_WIN, &longLine},   {FERRYLINE_MAC_TO_WIN, &longMarked},
                 {FERRYLINE_WIN_TO_MAC, &longEntry},  {FERRYLINE_MAC_TO_CSV, &longLine},
                 {FERRYLINE_WIN_TO_VCARD, &longEntry}};
    // Whatever a writer answers but FERRYLINE_OK is a refusal; 1, a success where 0 is a failure, is one too.
    const struct {
        FerrylineStatus refusal;
        const char* message;
        FerrylineStatus status;
    } refusals[] = {{FERRYLINE_COULD_NOT_WRITE, kWriteFailed, FERRYLINE_COULD_NOT_WRITE},
                    {FERRYLINE_NO_MEMORY, kNoMemory, FERRYLINE_NO_MEMORY},
                    {static_cast<FerrylineStatus>(1), kWriteFailed, FERRYLINE_COULD_NOT_WRITE}};
    for (const auto& b : books) {
        Sink whole = MakeSink();
        ASSERT_EQ(Convert(b.direction, *b.input, &whole), FERRYLINE_OK);
        ASSERT_GE(whole.pieces, 3) << "direction " << b.direction << ", " << b.input->size() << " bytes";
        for (const auto& r : refusals) {
            for (int at : {1, (whole.pieces + 1) / 2, whole.pieces}) {
                SCOPED_TRACE("direction " + std::to_string(b.direction) + ", " + std::to_string(b.input->size()) +
                             " bytes, piece " + std::to_string(at) + " of " + std::to_string(whole.pieces));
                Sink sink = MakeSink();
                sink.refuseAt = at;
                sink.refusal = r.refusal;
                EXPECT_EQ(Convert(b.direction, *b.input, &sink), r.status);
                EXPECT_EQ(sink.messages, std::vector<std::string>{r.message}) << "no warning after a failure";
                EXPECT_EQ(sink.piecesAfterRefusal, 0);
                EXPECT_EQ(sink.blocksHeld, 0);
            }
        }
    }
}

TEST(Library, EveryRefusedAllocationIsToldAndLeavesNothingHeld)
{
    const std::string mac = "Bob <A1>\r\nplain\r\nA&B <x>\r\n\"G\" <GROUP@GROUP>\r\nR\x8E\xB9 <A1>\r\n";
    const std::string w95 = "&Main #Bob ^A1 #Nobody &G #Ann ^A2 #\x8A\xE9 ^A3 +";
    const FerrylineOptions recode = {1, FERRYLINE_CHARSET_AUTO, 0, 0, 0};
    const FerrylineOptions vcard4 = {0, FERRYLINE_CHARSET_AUTO, 4, 0, 0};
    // A record longer than the output block, whose pieces reach the result's block one by one.
    const std::string longMac = "Ann <a@x>\r\nLong " + std::string(600 * 1000, 'n') + " <long@x>\r\n";
    const std::string vcard = "BEGIN:VCARD\r\nFN:Zo\xC3\xAB\r\nEMAIL:z@x\r\nCATEGORIES:G\r\nEND:VCARD\r\n"
                              "BEGIN:VCARD\r\nFN:Nobody\r\nEND:VCARD\r\n";
    const std::string csv = "First Name,Last Name,E-mail Display Name,E-mail Address,Categories\r\nZo,Ann,Zo Ann,z@x,G;H\r\n";
    const struct {
        FerrylineDirection direction;
        const FerrylineOptions* options;
        const std::string* input;
    } cases[] = {
        {FERRYLINE_MAC_TO_WIN, nullptr, &mac},         {FERRYLINE_WIN_TO_MAC, nullptr, &w95},
        {FERRYLINE_MAC_TO_WIN, &recode, &mac},         {FERRYLINE_WIN_TO_MAC, &recode, &w95},
        {FERRYLINE_MAC_TO_VCARD, &vcard4, &mac},       {FERRYLINE_BOOK_TO_VCARD, &vcard4, &w95},
        {FERRYLINE_MAC_TO_CSV, nullptr, &mac},         {FERRYLINE_WIN_TO_CSV, nullptr, &w95},
        {FERRYLINE_MAC_TO_CSV, nullptr, &longMac},     {FERRYLINE_BOOK_TO_LDIF, nullptr, &w95},
        {FERRYLINE_VCARD_TO_MAC, nullptr, &vcard},     {FERRYLINE_VCARD_TO_WIN, nullptr, &vcard},
        {FERRYLINE_CSV_TO_MAC, nullptr, &csv},         {FERRYLINE_CSV_TO_WIN, nullptr, &csv},
    };
    for (const auto& c : cases) {
        const FerrylineDirection direction = c.direction;
        const std::string& input = *c.input;
        Sink clean = MakeSink();
        FerrylineEnv cleanEnv = {SinkAlloc, &clean, nullptr};
        FerrylineResult result;
        ASSERT_EQ(ferryline_convert_bytes(direction, c.options, input.data(), input.size(), "book", &cleanEnv, &result),
                  FERRYLINE_OK);
        const std::string expected(result.output, result.outputSize);
        ferryline_result_free(&result);
        ASSERT_EQ(clean.blocksHeld, 0);
        for (int at = 1; at <= clean.allocCalls; ++at) {
            SCOPED_TRACE("allocation " + std::to_string(at) + " of " + std::to_string(clean.allocCalls));
            Sink sink = MakeSink();
            sink.failAllocAt = at;
            FerrylineEnv env = {SinkAlloc, &sink, nullptr};
            FerrylineStatus status =
                ferryline_convert_bytes(direction, c.options, input.data(), input.size(), "book", &env, &result);
            // What could still be kept is whole: the output is complete or absent, and a failure says why.
            EXPECT_EQ(result.status, status);
            if (status == FERRYLINE_OK) {
                EXPECT_EQ(std::string(result.output, result.outputSize), expected);
            } else {
                EXPECT_EQ(status, FERRYLINE_NO_MEMORY);
                EXPECT_EQ(result.outputSize, 0u);
            }
            ferryline_result_free(&result);
            EXPECT_EQ(sink.blocksHeld, 0);
        }
    }
}

TEST(Library, EachRefusedBookHasItsStatusAndOneMessage)
{
    const std::string w95 = "&Main #Bob ^A1 +";
    const std::string utf16("\xff\xfe&\0M\0a\0i\0n\0 \0", 14);
    const struct {
        FerrylineDirection direction;
        std::string input;
        FerrylineStatus status;
        const char* message;
    } cases[] = {
        {FERRYLINE_MAC_TO_WIN, w95, FERRYLINE_WRONG_EDITION,
         "error: The file book is a Corvella W95 address book, not a Macintosh one."},
        {FERRYLINE_WIN_TO_MAC, "Bob <A1>\r\n", FERRYLINE_NOT_A_BOOK,
         "error: The file book is not a Corvella W95 address book or is corrupt."},
        {FERRYLINE_WIN_TO_CSV, "&Main #Bob ^A1 ", FERRYLINE_NOT_A_BOOK,
         "error: The file book is not a Corvella W95 address book or is corrupt."},
        {FERRYLINE_WIN_TO_MAC, utf16, FERRYLINE_UTF16_REFUSED,
         "error: The file book is saved as Unicode (UTF-16) and can't be converted byte by byte.\n"
         "Save it as ANSI text, or have its accented letters converted."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        Sink sink = MakeSink();
        EXPECT_EQ(Convert(c.direction, c.input, &sink), c.status);
        EXPECT_EQ(sink.messages, std::vector<std::string>{c.message});
        EXPECT_EQ(sink.pieces, 0);
    }
}

TEST(Library, TwoConversionsRunAtOnceOnTwoThreads)
{
    std::string mac = LargeMacBook();
    Sink single = MakeSink();
    ASSERT_EQ(Convert(FERRYLINE_MAC_TO_WIN, mac, &single), FERRYLINE_OK);
    Sink singleBack = MakeSink();
    ASSERT_EQ(Convert(FERRYLINE_WIN_TO_MAC, single.output, &singleBack), FERRYLINE_OK);

    for (int round = 0; round < 5; ++round) {
        Sink forth = MakeSink();
        Sink back = MakeSink();
        FerrylineStatus forthResult = FERRYLINE_NO_MEMORY;
        FerrylineStatus backResult = FERRYLINE_NO_MEMORY;
        std::thread one([&] { forthResult = Convert(FERRYLINE_MAC_TO_WIN, mac, &forth); });
        std::thread two([&] { backResult = Convert(FERRYLINE_WIN_TO_MAC, single.output, &back); });
        one.join();
        two.join();
        EXPECT_EQ(forthResult, FERRYLINE_OK);
        EXPECT_EQ(backResult, FERRYLINE_OK);
        EXPECT_EQ(forth.output, single.output);
        EXPECT_EQ(forth.messages, single.messages);
        EXPECT_EQ(back.output, singleBack.output);
    }
}

TEST(Library, TheResultHoldsOutputMessagesInOrderAndChangeLines)
{
    const std::string mac = "plain\r\nA&B <x>\r\nC\x1b[2J <y>\r\n";
    FerrylineResult result;
    ASSERT_EQ(ferryline_convert_bytes(FERRYLINE_MAC_TO_WIN, nullptr, mac.data(), mac.size(), "book", nullptr, &result), FERRYLINE_OK);
    EXPECT_EQ(std::string(result.output, result.outputSize), "&Main #No Name 01 ^plain #A-B ^x #C\x1b[2J ^y +");
    ASSERT_EQ(result.messageCount, 2u);
    EXPECT_EQ(result.messages[0].kind, FERRYLINE_WARNING);
    EXPECT_EQ(result.messages[1].kind, FERRYLINE_WARNING);
    EXPECT_EQ(std::string(result.messages[0].text).substr(0, 40), "Some of the addresses contained invalid ");
    EXPECT_EQ(std::string(result.messages[1].text).substr(0, 40), "Some of the addresses did not have perso");
    EXPECT_EQ(std::string(result.changes, result.changesSize),
              "line 1: no personal name, named \"No Name 01\": \"plain\" became \"No Name 01\" <plain>\n"
              "line 2: reserved characters (&#^+) replaced with dashes: \"A&B\" <x> became \"A-B\" <x>\n");
    ferryline_result_free(&result);

    const std::string w95 = "&Main #Esc\x1b]0;x\x07 +";
    ASSERT_EQ(ferryline_convert_bytes(FERRYLINE_WIN_TO_MAC, nullptr, w95.data(), w95.size(), "book", nullptr, &result), FERRYLINE_OK);
    EXPECT_EQ(std::string(result.changes, result.changesSize),
              "entry 1: \"Esc\\x1b]0;x\\x07\" left out, it has no address\n")
        << "control bytes never reach a terminal";
    ferryline_result_free(&result);

    // Changes of a large book, well under the list's limit, are listed every one.
    std::string nameless;
    for (int i = 0; i < 20000; ++i) {
        nameless += "a\n";
    }
    ASSERT_EQ(ferryline_convert_bytes(FERRYLINE_MAC_TO_WIN, nullptr, nameless.data(), nameless.size(), "book", nullptr, &result), FERRYLINE_OK);
    EXPECT_EQ(std::count(result.changes, result.changes + result.changesSize, '\n'), 20000);
    ferryline_result_free(&result);
}

TEST(Library, TheChangeListStopsAtItsLimitAndCountsTheRest)
{
    std::string mac;
    for (int i = 0; i < 120000; ++i) {
        mac += "a\n";
    }
    FerrylineResult result;
    ASSERT_EQ(ferryline_convert_bytes(FERRYLINE_MAC_TO_WIN, nullptr, mac.data(), mac.size(), "book", nullptr, &result), FERRYLINE_OK);
    std::string changes(result.changes, result.changesSize);
    EXPECT_LE(changes.size(), (4u << 20) + 200);
    EXPECT_GE(changes.size(), 4u << 20) << "the list is filled to its limit";
    size_t listed = static_cast<size_t>(std::count(changes.begin(), changes.end(), '\n')) - 1;
    std::string last = changes.substr(changes.rfind('\n', changes.size() - 2) + 1);
    EXPECT_EQ(last, "(" + std::to_string(120000 - listed) + " more changes not listed)\n");
    ferryline_result_free(&result);
}

TEST(Library, WorksFromC)
{
    char mac[256];
    ASSERT_EQ(ConvertSampleFromC(mac, sizeof mac), 1);
    EXPECT_STREQ(mac, "Bob Smith <bob@example.org>\r\n\"Friends\" <GROUP@GROUP>\r\nAnn <ann@example.org>\r\n");
    EXPECT_EQ(ConvertIntoRefusingWriterFromC(), FERRYLINE_NO_MEMORY);
    EXPECT_STREQ(VersionFromC(), FERRYLINE_VERSION);
}

}  // namespace
