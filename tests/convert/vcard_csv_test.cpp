// What the exports promise beyond their formats' grammar: the SHA-1 the cards' UIDs are made with (the
// UIDs themselves are checked against Python's uuid by tests/exports), CSV cells that no spreadsheet runs
// as formulas, and Google's layout.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "convert/ferryline.h"
#include "convert/sha1.h"

namespace {

std::string Hex(const unsigned char* bytes, size_t size)
{
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 15];
    }
    return text;
}

// The published test vectors, and lengths on each side of where the padding needs a second block,
// each fed whole and in pieces of 1 and 63 bytes so that the pieces straddle the blocks.
TEST(Sha1, KnownDigests)
{
    const struct {
        std::string message;
        const char* digest;
    } cases[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
        {std::string(56, 'a'), "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
        {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    };
    for (const auto& c : cases) {
        for (size_t piece : {c.message.size() + 1, size_t{1}, size_t{63}}) {
            Sha1 sha;
            Sha1Start(&sha);
            for (size_t at = 0; at < c.message.size(); at += piece) {
                Sha1Add(&sha, c.message.data() + at, std::min(piece, c.message.size() - at));
            }
            unsigned char digest[20];
            Sha1Finish(&sha, digest);
            EXPECT_EQ(Hex(digest, sizeof digest), c.digest) << c.message.size() << " bytes in pieces of " << piece;
        }
    }
    // RFC 4122's DNS namespace and the name every implementation is checked with.
    const unsigned char dns[16] = {0x6b, 0xa7, 0xb8, 0x10, 0x9d, 0xad, 0x11, 0xd1,
                                   0x80, 0xb4, 0x00, 0xc0, 0x4f, 0xd4, 0x30, 0xc8};
    const UuidName name = {"www.example.com", 15};
    char uuid[46];
    NameBasedUuid(dns, &name, 1, uuid);
    EXPECT_STREQ(uuid, "urn:uuid:2ed6657d-e927-568b-95e1-2665a8aea6a2");
}

std::string Convert(FerrylineDirection direction, const std::string& input, int vcardVersion, int csvLayout,
                    std::vector<std::string>* changes = nullptr)
{
    FerrylineOptions options = {};
    options.vcardVersion = vcardVersion;
    options.csvLayout = csvLayout;
    FerrylineResult result;
    EXPECT_EQ(ferryline_convert_bytes(direction, &options, input.data(), input.size(), "book", nullptr, &result), FERRYLINE_OK);
    std::string output(result.output, result.outputSize);
    if (changes != nullptr) {
        std::istringstream lines(std::string(result.changes != nullptr ? result.changes : "", result.changesSize));
        changes->clear();
        for (std::string line; std::getline(lines, line);) {
            changes->push_back(line);
        }
    }
    ferryline_result_free(&result);
    return output;
}

// Cells a spreadsheet would run get a "'" (inside the quotes of a quoted cell), each one a change; the
// same person in Google's layout, whose Labels cell begins with its own label.
TEST(Csv, FormulaCellsAreWrittenAsTextInBothLayouts)
{
    const struct {
        const char* book;
        const char* outlook;
        const char* google;
        int changes;  // in the Outlook layout; a book beginning with '&' is a W95 one
    } cases[] = {
        {"+1 Bob <a@x>\r\n", "'+1,Bob,'+1 Bob,a@x,\r\n", "'+1,,Bob,,,,,,,,,,,,,,* myContacts,,a@x\r\n", 2},
        {"&Main #Ann ^-a@x +", "Ann,,Ann,'-a@x,\r\n", "Ann,,,,,,,,,,,,,,,,* myContacts,,'-a@x\r\n", 1},
        // Ann twice: a formula cell and one contact for both entries.
        {"&Main &@home #Ann ^a@x &-x #Ann ^a@x +", "Ann,,Ann,a@x,'@home;-x\r\n", "Ann,,,,,,,,,,,,,,,,* myContacts ::: @home ::: -x,,a@x\r\n", 2},
        {"&Main #=A, B ^a@x +", "B,'=A,\"'=A, B\",a@x,\r\n", "B,,'=A,,,,,,,,,,,,,,* myContacts,,a@x\r\n", 2},
        {"&Main #\tTab ^a@x +", "'\tTab,,'\tTab,a@x,\r\n", "'\tTab,,,,,,,,,,,,,,,,* myContacts,,a@x\r\n", 2},
        {"&Main #Ann-Marie ^a-m@x #Eve O'Test, PhD ^eve@x +", "Ann-Marie,,Ann-Marie,a-m@x,\r\nEve,O'Test,\"Eve O'Test, PhD\",eve@x,\r\n",
         "Ann-Marie,,,,,,,,,,,,,,,,* myContacts,,a-m@x\r\nEve,,O'Test,,,,,PhD,,,,,,,,,* myContacts,,eve@x\r\n", 0},
    };
    const std::string outlookHeader = "\xEF\xBB\xBF" "First Name,Last Name,E-mail Display Name,E-mail Address,Categories\r\n";
    const std::string googleHeader = "First Name,Middle Name,Last Name,Phonetic First Name,Phonetic Middle Name,"
                                     "Phonetic Last Name,Name Prefix,Name Suffix,Nickname,File As,Organization Name,"
                                     "Organization Title,Organization Department,Birthday,Notes,Photo,Labels,"
                                     "E-mail 1 - Label,E-mail 1 - Value\r\n";
    for (const auto& c : cases) {
        std::vector<std::string> changes;
        EXPECT_EQ(Convert(FERRYLINE_BOOK_TO_CSV, c.book, 0, FERRYLINE_CSV_OUTLOOK, &changes), outlookHeader + c.outlook);
        EXPECT_EQ(changes.size(), static_cast<size_t>(c.changes)) << c.book;
        EXPECT_EQ(Convert(FERRYLINE_BOOK_TO_CSV, c.book, 0, FERRYLINE_CSV_GOOGLE), googleHeader + c.google);
    }
    std::vector<std::string> changes;
    Convert(FERRYLINE_MAC_TO_CSV, "Ann <a@x>\r\n\"Ann\" <=b@x>\r\n", 0, FERRYLINE_CSV_GOOGLE, &changes);
    EXPECT_EQ(changes, std::vector<std::string>{"row 3: a cell beginning \"=b@x\" would be a formula in a spreadsheet; "
                                                "written with \"'\" before it"});
}

}  // namespace
