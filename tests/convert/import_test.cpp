// vCard and CSV files read into either edition; LDIF written; generated books exported and imported back.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "convert/ferryline.h"
#include "support/test_support.h"

using namespace ferryline;

namespace {

struct Converted {
    bool ok;
    std::string output;
    std::string messages;
    std::string changes;
};

Converted Convert(FerrylineDirection direction, const std::string& input, const FerrylineOptions* options = nullptr)
{
    FerrylineResult result;
    ferryline_convert_bytes(direction, options, input.data(), input.size(), "in", nullptr, &result);
    Converted converted = {result.status == FERRYLINE_OK, std::string(result.output, result.outputSize), "", std::string(result.changes, result.changesSize)};
    for (size_t i = 0; i < result.messageCount; ++i) {
        converted.messages += std::string(result.messages[i].text) + "\n";
    }
    ferryline_result_free(&result);
    return converted;
}

struct ImportCase {
    const char* what;
    FerrylineDirection direction;
    std::string input;
    std::string expected;
    const char* change;  // a text one of the changes holds, or ""
};

TEST(Import, CardsAndRowsBecomeEntries)
{
    const std::string v21 = "BEGIN:VCARD\r\nVERSION:2.1\r\n";
    const std::string v30 = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    const std::string v40 = "BEGIN:VCARD\r\nVERSION:4.0\r\n";
    const std::string end = "END:VCARD\r\n";
    const ImportCase cases[] = {
        {"2.1 quoted-printable with soft line breaks, named character sets, a photo passed over, the preferred address first",
         FERRYLINE_VCARD_TO_MAC,
         v21 + "N;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:M=FCller;J=FC=\r\nrgen;;;\r\n"
               "PHOTO;ENCODING=BASE64;TYPE=JPEG:\r\n /9j/4AAQSkZJRg:ABAQ\r\n AAAQ\r\n\r\n"
               "EMAIL;INTERNET:j@example.org\r\nEMAIL;PREF;INTERNET:p@example.org\r\n" + end +
               v21 + "FN;CHARSET=UTF-8;QUOTED-PRINTABLE:Zo=C3=AB =\r\n=E2=98=83\r\nEMAIL:z@example.org\r\n" + end,
         "J\x9frgen M\x9fller <p@example.org>\r\nJ\x9frgen M\x9fller <j@example.org>\r\nZo\x91 ? <z@example.org>\r\n",
         "1 character that Mac OS Roman can't hold"},
        {"folded lines, escapes, a property group, the preferred address first, UTF-8 in Windows-1252, Google's own group",
         FERRYLINE_VCARD_TO_WIN,
         v30 + "FN:Zo\xC3\xAB\\, Ana\r\nitem1.EMAIL;TYPE=INTERNET:a@exam\r\n ple.org\r\nitem2.EMAIL;TYPE=INTERNET,pref:p@example.org\r\n"
                   "CATEGORIES:myContacts\r\n" + end,
         "&Main #Zo\xEB, Ana ^p@example.org #Zo\xEB, Ana ^a@example.org +", ""},
        {"N when there is no FN; categories as groups, a person under each", FERRYLINE_VCARD_TO_MAC,
         v30 + "N:Smith;Bob;;Dr.;Jr.\r\nEMAIL:b@example.org\r\nCATEGORIES:Work,Golf\\, Club\r\n" + end +
             v30 + "FN:Ann\r\nEMAIL:a@example.org\r\nCATEGORIES:Golf\\, Club\r\n" + end,
         "\"Work\" <GROUP@GROUP>\r\n\"Dr. Bob Smith, Jr.\" <b@example.org>\r\n\"Golf, Club\" <GROUP@GROUP>\r\n"
         "\"Dr. Bob Smith, Jr.\" <b@example.org>\r\nAnn <a@example.org>\r\n",
         ""},
        {"4.0 group card with members by UID and by address; one not found", FERRYLINE_VCARD_TO_WIN,
         v40 + "FN:Ann\r\nUID:urn:uuid:A1\r\nEMAIL;PREF=1:a@example.org\r\n" + end + v40 + "FN:Bob\r\nEMAIL:b@example.org\r\n" + end +
             v40 + "KIND:group\r\nFN:Team\r\nMEMBER:urn:uuid:a1\r\nMEMBER:mailto:b@example.org\r\nMEMBER:urn:uuid:gone\r\n" + end,
         "&Main &Team #Ann ^a@example.org #Bob ^b@example.org +", "member \"urn:uuid:gone\" left out"},
        {"Apple's group card", FERRYLINE_VCARD_TO_MAC,
         v30 + "FN:Ann\r\nUID:K1\r\nEMAIL:a@example.org\r\n" + end + v30 +
             "X-ADDRESSBOOKSERVER-KIND:group\r\nN:Family\r\nFN:Family\r\nX-ADDRESSBOOKSERVER-MEMBER:urn:uuid:K1\r\n" + end,
         "\"Family\" <GROUP@GROUP>\r\nAnn <a@example.org>\r\n", ""},
        {"a card without an address left out; a card embedded in another passed over", FERRYLINE_VCARD_TO_MAC,
         v21 + "FN:Nobody\r\nAGENT:\r\nBEGIN:VCARD\r\nEMAIL:agent@example.org\r\nEND:VCARD\r\n" + end + v30 + "FN:Ann\r\nEMAIL:a@example.org\r\n" + end,
         "Ann <a@example.org>\r\n", "line 1: \"Nobody\" left out, it has no e-mail address"},
        {"reserved characters, a missing name, characters outside Windows-1252", FERRYLINE_VCARD_TO_WIN,
         v30 + "FN:Finn & Co\r\nEMAIL:finn+news@example.org\r\n" + end + v30 + "EMAIL:x@example.org\r\nCATEGORIES:\xE2\x98\x83 Club\r\n" + end,
         "&Main #Finn - Co ^finn-news@example.org &? Club #No Name 01 ^x@example.org +", "reserved characters (&#^+) replaced"},
        {"UTF-16 with a byte order mark", FERRYLINE_VCARD_TO_MAC,
         std::string("\xFF\xFE", 2) + [] {
             std::string wide;
             for (char c : std::string("BEGIN:VCARD\r\nFN:Ann\r\nEMAIL:a@example.org\r\nEND:VCARD\r\n")) {
                 wide += c;
                 wide += '\0';
             }
             return wide;
         }(),
         "Ann <a@example.org>\r\n", ""},
        {"Google's layout: labels, several addresses in a cell, the starred one first", FERRYLINE_CSV_TO_MAC,
         "Name,Given Name,Family Name,Group Membership,E-mail 1 - Type,E-mail 1 - Value,E-mail 2 - Type,E-mail 2 - Value\r\n"
         "Bob Smith,Bob,Smith,* myContacts ::: Golf,Home,b@example.org ::: c@example.org,* Work,w@example.org\r\n",
         "\"Golf\" <GROUP@GROUP>\r\nBob Smith <w@example.org>\r\nBob Smith <b@example.org>\r\nBob Smith <c@example.org>\r\n", ""},
        {"Outlook's layout: the name from its parts, a quoted field with a line break and a doubled quote", FERRYLINE_CSV_TO_WIN,
         "\xEF\xBB\xBF" "First Name,Middle Name,Last Name,E-mail Address,E-mail 2 Address,Categories\r\n"
         "Ann,\"B\"\"\",Lee,a@example.org,,\"Golf;Chess\r\nClub\"\n,,,,,\r\nNo,,Mail,,,\r\n",
         "&Main &Golf #Ann B\" Lee ^a@example.org &Chess Club #Ann B\" Lee ^a@example.org +", "\"No Mail\" left out"},
        {"Ferryline's own layout, Windows-1252 without a mark", FERRYLINE_CSV_TO_MAC,
         "First Name,Last Name,E-mail Display Name,E-mail Address,Categories\r\nBob,Smith,\"Smith, Bob\",b@example.org,\r\n"
         "Zo\xEB,,Zo\xEB,z@example.org,\r\n",
         "\"Smith, Bob\" <b@example.org>\r\nZo\x91 <z@example.org>\r\n", ""},
    };
    for (const ImportCase& c : cases) {
        Converted converted = Convert(c.direction, c.input);
        EXPECT_TRUE(converted.ok) << c.what << "\n" << converted.messages;
        EXPECT_EQ(converted.output, c.expected) << c.what;
        EXPECT_NE(converted.changes.find(c.change), std::string::npos) << c.what << "\n" << converted.changes;
        if (*c.change == '\0') {
            EXPECT_EQ(converted.changes, "") << c.what;
        }
    }
}

TEST(Import, RefusedInputsSayWhy)
{
    struct Refusal {
        FerrylineDirection direction;
        std::string input;
        const char* message;
    };
    const Refusal refusals[] = {
        {FERRYLINE_VCARD_TO_MAC, "Bob Smith <b@example.org>\r\n", "The file in is not a vCard file: it holds no BEGIN:VCARD line."},
        {FERRYLINE_CSV_TO_WIN, "Name,Phone\r\nBob,123\r\n", "names none of the columns \"E-mail Address\" (Outlook, Ferryline) or \"E-mail 1 - Value\" (Google)"},
        {FERRYLINE_CSV_TO_MAC, "", "The file in is not a CSV address book: it is empty."},
    };
    for (const Refusal& refusal : refusals) {
        Converted converted = Convert(refusal.direction, refusal.input);
        EXPECT_FALSE(converted.ok);
        EXPECT_EQ(converted.output, "");
        EXPECT_NE(converted.messages.find(refusal.message), std::string::npos) << converted.messages;
    }
}

// The LDIF of a book, each logical line unfolded.
std::vector<std::string> LdifLines(const std::string& ldif)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < ldif.size()) {
        size_t end = ldif.find('\n', start);
        std::string line = ldif.substr(start, end - start);
        EXPECT_LE(line.size(), 76u) << line;
        if (!line.empty() && line[0] == ' ' && !lines.empty()) {
            lines.back() += line.substr(1);
        } else {
            lines.push_back(line);
        }
        start = end + 1;
    }
    return lines;
}

TEST(Import, LdifHasPeopleAndLists)
{
    std::string book = "Bob Smith <b@example.org>\r\n\"Friends\" <GROUP@GROUP>\r\nBob Smith <b2@example.org>\r\n"
                       "\"Ann, Lee\" <a@example.org>\r\nBob Smith <b@example.org>\r\n";
    book += std::string(100, 'x') + " <long@example.org>\r\n Lead <l@example.org>\r\n";
    Converted converted = Convert(FERRYLINE_MAC_TO_LDIF, book);
    ASSERT_TRUE(converted.ok);
    std::vector<std::string> lines = LdifLines(converted.output);
    const char* expected[] = {"dn: cn=Bob Smith,mail=b@example.org", "mail: b@example.org", "mozillaSecondEmail: b2@example.org",
                              "dn: cn=Ann\\, Lee,mail=a@example.org", "givenName: Lee", "sn: Ann",
                              "dn: cn=Friends", "objectclass: groupOfNames", "cn:: IExlYWQ="};
    for (const char* line : expected) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line << "\n" << converted.output;
    }
    // Bob once in his group, as the one person both his addresses make.
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "member: cn=Bob Smith,mail=b@example.org"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "member: cn=Ann\\, Lee,mail=a@example.org"), 1);
    Converted accented = Convert(FERRYLINE_WIN_TO_LDIF, "&Main #Zo\xEB ^z@example.org +");
    EXPECT_NE(accented.output.find("cn:: Wm/Dqw==\n"), std::string::npos) << accented.output;
    // Either edition, as the first look tells it: a Mac name may begin with '&'.
    for (const char* input : {"&Main #Zo\xEB ^z@example.org &Friends #Bob ^b@example.org +", "&Maine Smith <m@x>\r\n"}) {
        Converted either = Convert(FERRYLINE_BOOK_TO_LDIF, input);
        Converted own = Convert(strncmp(input, "&Main ", 6) == 0 ? FERRYLINE_WIN_TO_LDIF : FERRYLINE_MAC_TO_LDIF, input);
        EXPECT_TRUE(either.ok && own.ok && !either.output.empty()) << input;
        EXPECT_EQ(either.output, own.output) << input;
    }
}

// A book whose group order and entries an export keeps: the people of section k are in group k (none
// for section 0) and perhaps in group k + 1 as well, so every group first appears, card by card, in the
// order of the book.
struct Person {
    std::string name;
    std::string address;
    int section;
    bool alsoNext;
};

std::string Encoded(const std::string& text, bool mac)
{
    std::string out;
    for (char c : text) {
        out += c == '\x01' ? (mac ? '\x8E' : '\xE9') : c;
    }
    return out;
}

std::string RandomWord(std::mt19937* random, const char* pieces, int length)
{
    std::uniform_int_distribution<size_t> pick(0, strlen(pieces) - 1);
    std::string word;
    for (int i = 0; i < length; ++i) {
        word += pieces[pick(*random)];
    }
    return word;
}

// `plainNames`: one or two words without commas, the names Google's CSV layout carries in its parts.
std::string GeneratedBook(std::mt19937* random, bool mac, bool plainNames)
{
    std::uniform_int_distribution<int> count(1, 12);
    std::uniform_int_distribution<int> groups(0, 4);
    std::uniform_int_distribution<int> coin(0, 1);
    // \x01 stands for the accented letter both sets hold.
    const char* nameLetters = plainNames ? "abcXYZ\x01.()@:[]" : mac ? "abcXYZ \x01.,()@:[]&" : "abcXYZ \x01.,()@:[]";
    std::vector<Person> people;
    int sections = groups(*random);
    for (int s = 0; s <= sections; ++s) {
        for (int i = count(*random); i > 0; --i) {
            // Some begin as a spreadsheet formula would, which a CSV export quotes.
            std::string name = RandomWord(random, "PP=@-", 1) + RandomWord(random, nameLetters, count(*random)) + "z";
            name += plainNames && coin(*random) == 1 ? " Q" + RandomWord(random, nameLetters, 3) : "";
            std::string address = RandomWord(random, "abc.", 4) + std::to_string(people.size()) + "@example.org";
            people.push_back(Person{name, address, s, s > 0 && s < sections && coin(*random) == 1});
        }
    }
    std::string book = mac ? "" : "&Main ";
    for (int s = 0; s <= sections; ++s) {
        std::string group = "G" + RandomWord(random, "ab \x01,.", 3) + std::to_string(s);
        if (s > 0) {
            book += mac ? "\"" + Encoded(group, mac) + "\" <GROUP@GROUP>\r\n" : "&" + Encoded(group, mac) + " ";
        }
        for (const Person& person : people) {
            if (person.section == s || (person.section == s - 1 && person.alsoNext)) {
                std::string name = Encoded(person.name, mac);
                bool quoted = name.find_first_of("()<>@,;:\\.[]") != std::string::npos;
                book += mac ? (quoted ? "\"" + name + "\"" : name) + " <" + person.address + ">\r\n" : "#" + name + " ^" + person.address + " ";
            }
        }
    }
    return book + (mac ? "" : "+");
}

TEST(Import, ExportsComeBackAsTheBook)
{
    struct Trip {
        FerrylineDirection out;
        FerrylineDirection in;
        int vcardVersion;
        int csvLayout;
        bool mac;
    };
    const Trip trips[] = {
        {FERRYLINE_MAC_TO_VCARD, FERRYLINE_VCARD_TO_MAC, 3, 0, true},  {FERRYLINE_MAC_TO_VCARD, FERRYLINE_VCARD_TO_MAC, 4, 0, true},
        {FERRYLINE_MAC_TO_CSV, FERRYLINE_CSV_TO_MAC, 0, FERRYLINE_CSV_OUTLOOK, true},
        {FERRYLINE_MAC_TO_CSV, FERRYLINE_CSV_TO_MAC, 0, FERRYLINE_CSV_GOOGLE, true},
        {FERRYLINE_WIN_TO_VCARD, FERRYLINE_VCARD_TO_WIN, 3, 0, false}, {FERRYLINE_WIN_TO_VCARD, FERRYLINE_VCARD_TO_WIN, 4, 0, false},
        {FERRYLINE_WIN_TO_CSV, FERRYLINE_CSV_TO_WIN, 0, FERRYLINE_CSV_OUTLOOK, false},
        {FERRYLINE_WIN_TO_CSV, FERRYLINE_CSV_TO_WIN, 0, FERRYLINE_CSV_GOOGLE, false},
    };
    std::mt19937 random(21);
    for (const Trip& trip : trips) {
        for (int i = 0; i < 150; ++i) {
            std::string book = GeneratedBook(&random, trip.mac, trip.csvLayout == FERRYLINE_CSV_GOOGLE);
            FerrylineOptions options = {};
            options.vcardVersion = trip.vcardVersion;
            options.csvLayout = trip.csvLayout;
            Converted exported = Convert(trip.out, book, &options);
            ASSERT_TRUE(exported.ok);
            Converted imported = Convert(trip.in, exported.output);
            ASSERT_TRUE(imported.ok) << imported.messages;
            ASSERT_EQ(imported.changes, "");
            ASSERT_EQ(imported.output, book) << trip.in << " " << trip.vcardVersion << "\n" << exported.output;
        }
    }
}

}  // namespace
