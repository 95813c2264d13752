// Any bytes as a book of either edition: the book reader, the inspector and the exports take them
// without fault, and what they report holds: the output is valid UTF-8, no vCard line passes 75
// octets, every CSV row has as many fields as its header, no change line holds a control character.
// The converters' fast paths write what their editions' grammars give, with the same changes.
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <string>

#include "convert/charset.h"
#include "fuzz/fuzz_checks.h"
#include "support/grammar_writers.h"

// Valid UTF-8 without a control character other than those `allowed` (a set of C0 bytes).
static bool IsCleanUtf8(const std::string& text, const char* allowed)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p < end) {
        uint32_t character = 0;
        size_t length = ReadUtf8(p, end, &character);
        if ((length == 1 && *p >= 0x80) || character == 0x7F || (character >= 0x80 && character <= 0x9F)) {
            return false;
        }
        if (character < 0x20 && strchr(allowed, static_cast<int>(character)) == nullptr) {
            return false;
        }
        p += length;
    }
    return true;
}

static bool IsUtf8(const std::string& text)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p < end) {
        uint32_t character = 0;
        size_t length = ReadUtf8(p, end, &character);
        if (length == 1 && *p >= 0x80) {
            return false;
        }
        p += length;
    }
    return true;
}

static void CheckVcardLines(const std::string& card)
{
    size_t start = 0;
    while (start < card.size()) {
        size_t end = card.find("\r\n", start);
        Require(end != std::string::npos, "every vCard line ends in CR LF");
        Require(end - start <= 75, "no vCard line passes 75 octets");
        start = end + 2;
    }
}

// The fields of each row of RFC 4180 CSV, counted.
static void CheckCsvRows(const std::string& csv)
{
    size_t fields = 1;
    size_t header = 0;
    bool quoted = false;
    bool first = true;
    for (size_t i = 3; i < csv.size(); ++i) {  // after the byte order mark
        char c = csv[i];
        if (quoted) {
            quoted = !(c == '"' && !(i + 1 < csv.size() && csv[i + 1] == '"'));
            i += c == '"' && quoted ? 1 : 0;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            ++fields;
        } else if (c == '\r' && i + 1 < csv.size() && csv[i + 1] == '\n') {
            header = first ? fields : header;
            Require(fields == header, "every CSV row has as many fields as its header");
            first = false;
            fields = 1;
            ++i;
        }
    }
    Require(!quoted && fields == 1, "the CSV ends with a whole row");
}

static void RunExport(FerrylineDirection direction, int vcardVersion, int force, const std::string& input)
{
    FerrylineOptions options = {0, FERRYLINE_CHARSET_AUTO, vcardVersion, force, 0};
    FerrylineResult result;
    ferryline_convert_bytes(direction, &options, input.data(), input.size(), "in", nullptr, &result);
    std::string output(result.output != nullptr ? result.output : "", result.outputSize);
    std::string changes(result.changes != nullptr ? result.changes : "", result.changesSize);
    ferryline_result_free(&result);
    Require(IsCleanUtf8(changes, "\n"), "change lines are UTF-8 without a control character");
    Require(IsUtf8(output), "an export is valid UTF-8");
    if (direction == FERRYLINE_BOOK_TO_CSV || direction == FERRYLINE_WIN_TO_CSV) {
        if (!output.empty()) {
            CheckCsvRows(output);
        }
    } else {
        CheckVcardLines(output);
    }
}

static void CheckAgainstGrammar(FerrylineDirection direction, const std::string& input)
{
    FerrylineResult result;
    ferryline_convert_bytes(direction, nullptr, input.data(), input.size(), "in", nullptr, &result);
    std::string output(result.output != nullptr ? result.output : "", result.outputSize);
    std::string changes(result.changes != nullptr ? result.changes : "", result.changesSize);
    int ok = result.status == FERRYLINE_OK;
    ferryline_result_free(&result);
    Require(IsCleanUtf8(changes, "\n"), "change lines are UTF-8 without a control character");
    FerrylineLook look;
    ferryline_look(input.data(), input.size(), FERRYLINE_CHARSET_AUTO, &look);
    if (look.charset == FERRYLINE_CHARSET_UTF16LE || look.charset == FERRYLINE_CHARSET_UTF16BE ||
        (direction == FERRYLINE_MAC_TO_WIN && look.edition == FERRYLINE_EDITION_W95)) {
        return;  // refused
    }
    GrammarConversion expected = direction == FERRYLINE_MAC_TO_WIN ? W95FromGrammar(input) : MacFromGrammar(input);
    Require(ok == (expected.ok ? 1 : 0), "the fast path succeeds where the grammar does");
    Require(output == expected.output, "the fast path writes what the grammar's entries give");
    Require(changes == expected.changes, "the fast path reports the grammar's changes");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    FerrylineInspection inspection;
    ferryline_inspect(input.data(), input.size(), &inspection);
    Require(inspection.entries >= inspection.withoutAddress, "entries without an address are entries");
    FerrylineBook book;
    if (ferryline_read_book(FERRYLINE_EDITION_EITHER, nullptr, input.data(), input.size(), "in", nullptr, &book) ==
        FERRYLINE_OK) {
        for (size_t i = 0; i < book.entryCount; ++i) {
            Require(IsUtf8(std::string(book.entries[i].name.bytes, book.entries[i].name.size)), "a book's text is UTF-8");
        }
        ferryline_book_free(&book);
    }
    RunExport(FERRYLINE_BOOK_TO_VCARD, 3, 0, input);
    RunExport(FERRYLINE_BOOK_TO_VCARD, 4, 0, input);
    RunExport(FERRYLINE_BOOK_TO_CSV, 0, 0, input);
    RunExport(FERRYLINE_WIN_TO_CSV, 0, 1, input);
    CheckAgainstGrammar(FERRYLINE_MAC_TO_WIN, input);
    CheckAgainstGrammar(FERRYLINE_WIN_TO_MAC, input);
    return 0;
}
