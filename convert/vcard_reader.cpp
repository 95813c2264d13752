// vCard 2.1, 3.0 and 4.0 read as phones, Google, Apple, Outlook and Thunderbird write them: the name,
// the e-mail addresses and the groups of each card; every other property is passed over.
#include <string.h>
#include <strings.h>

#include "convert/charset.h"
#include "convert/converters.h"
#include "convert/env.h"
#include "convert/import.h"

namespace ferryline {

static const char kNotVcard[] = "The file %s is not a vCard file: it holds no BEGIN:VCARD line.";

// A content line's parts, as offsets into the importer's text block, where the unfolded line is kept.
struct ContentLine {
    size_t name;  // without its group ("item1.")
    size_t nameSize;
    size_t params;  // from the first ';' to the ':', without either
    size_t paramsSize;
    size_t value;
    size_t valueSize;
};

// What a card said so far; its texts are in the text block.
struct CardState {
    int depth;  // 1 inside a card, more inside a card embedded in it (2.1's AGENT)
    unsigned long line;
    bool isGroup;
    bool version21;
    ImportText fullName;
    ImportText structuredName;
    ImportText uid;
    ImportText* emails;  // the top bit of the size marks a preferred one, as AddPersonEmail takes it
    size_t emailCount;
    size_t emailCapacity;
    ImportText* categories;
    size_t categoryCount;
    size_t categoryCapacity;
    ImportText* members;
    size_t memberCount;
    size_t memberCapacity;
};

static bool IsBreak(char c)
{
    return c == '\r' || c == '\n';
}

// The end of the physical line at `p` (CR LF, LF or CR), and where the next one starts.
static const char* LineEnd(const char* p, const char* end, const char** next)
{
    const char* e = p;
    while (e < end && !IsBreak(*e)) {
        ++e;
    }
    const char* after = e;
    if (after < end && *after == '\r') {
        ++after;
    }
    if (after < end && *after == '\n') {
        ++after;
    }
    *next = after;
    return e;
}

static bool ContainsNoCase(const char* text, size_t size, const char* word)
{
    size_t length = strlen(word);
    for (size_t i = 0; i + length <= size; ++i) {
        if (strncasecmp(text + i, word, length) == 0) {
            return true;
        }
    }
    return false;
}

// Where the name and parameters of a line end: its first ':' outside double quotes, or `size`.
static size_t FindValueColon(const char* text, size_t size)
{
    bool quoted = false;
    for (size_t i = 0; i < size; ++i) {
        quoted = text[i] == '"' ? !quoted : quoted;
        if (text[i] == ':' && !quoted) {
            return i;
        }
    }
    return size;
}

// Reads the logical line at `*p` into the text block, unfolded: a following line that starts with a
// space or a tab continues it without that character, and a quoted-printable value ending in '=' (a
// soft line break) continues on the next line as it is. Counts the physical lines read.
static ImportText ReadLogicalLine(Importer* importer, const char** p, const char* end, unsigned long* lines)
{
    const char* next = nullptr;
    const char* e = LineEnd(*p, end, &next);
    ImportText line = {AddImportText(importer, *p, static_cast<size_t>(e - *p)), static_cast<size_t>(e - *p)};
    ++*lines;
    *p = next;
    if (importer->failed) {
        return ImportText{0, 0};
    }
    // A soft line break needs the parameters in the first line; looked for once.
    const char* first = importer->text + line.offset;
    size_t colon = FindValueColon(first, line.size);
    bool quotedPrintable = colon < line.size && ContainsNoCase(first, colon, "QUOTED-PRINTABLE");
    while (*p < end && !importer->failed) {
        bool softBreak = quotedPrintable && line.size > 0 && importer->text[line.offset + line.size - 1] == '=';
        bool folded = **p == ' ' || **p == '\t';
        if (!softBreak && !folded) {
            break;
        }
        const char* from = folded && !softBreak ? *p + 1 : *p;
        e = LineEnd(*p, end, &next);
        if (softBreak) {
            --line.size;
            importer->textSize = line.offset + line.size;
        }
        AddImportText(importer, from, static_cast<size_t>(e - from));
        line.size += static_cast<size_t>(e - from);
        ++*lines;
        *p = next;
    }
    return importer->failed ? ImportText{0, 0} : line;
}

static ContentLine SplitContentLine(const Importer* importer, ImportText line)
{
    const char* text = importer->text + line.offset;
    size_t colon = FindValueColon(text, line.size);
    size_t nameEnd = 0;
    while (nameEnd < colon && text[nameEnd] != ';') {
        ++nameEnd;
    }
    size_t nameStart = nameEnd;
    while (nameStart > 0 && text[nameStart - 1] != '.') {
        --nameStart;
    }
    ContentLine parts;
    parts.name = line.offset + nameStart;
    parts.nameSize = nameEnd - nameStart;
    parts.params = line.offset + (nameEnd < colon ? nameEnd + 1 : colon);
    parts.paramsSize = nameEnd < colon ? colon - nameEnd - 1 : 0;
    parts.value = line.offset + (colon < line.size ? colon + 1 : line.size);
    parts.valueSize = colon < line.size ? line.size - colon - 1 : 0;
    return parts;
}

static bool NameIs(const Importer* importer, const ContentLine& line, const char* name)
{
    return TextEqualsNoCase(importer->text + line.name, line.nameSize, name);
}

static bool ValueIs(const Importer* importer, const ContentLine& line, const char* value)
{
    size_t size = line.valueSize;
    const char* text = importer->text + line.value;
    while (size > 0 && (text[size - 1] == ' ' || text[size - 1] == '\t')) {
        --size;
    }
    return TextEqualsNoCase(text, size, value);
}

// Calls `take` with each parameter's name and value (empty for 2.1's bare "PREF", "QUOTED-PRINTABLE").
template <typename Take>
static void ForEachParam(const char* text, size_t size, Take take)
{
    size_t start = 0;
    bool quoted = false;
    for (size_t i = 0; i <= size; ++i) {
        if (i < size && text[i] == '"') {
            quoted = !quoted;
        }
        if (i < size && (text[i] != ';' || quoted)) {
            continue;
        }
        const char* param = text + start;
        size_t length = i - start;
        const char* equals = static_cast<const char*>(memchr(param, '=', length));
        size_t nameSize = equals != nullptr ? static_cast<size_t>(equals - param) : length;
        const char* value = equals != nullptr ? equals + 1 : param + length;
        size_t valueSize = equals != nullptr ? length - nameSize - 1 : 0;
        if (valueSize >= 2 && value[0] == '"' && value[valueSize - 1] == '"') {
            ++value;
            valueSize -= 2;
        }
        take(param, nameSize, value, valueSize);
        start = i + 1;
    }
}

// Whether one of a comma-separated list of parameter values is `word`.
static bool ListHas(const char* text, size_t size, const char* word)
{
    size_t start = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i == size || text[i] == ',') {
            if (TextEqualsNoCase(text + start, i - start, word)) {
                return true;
            }
            start = i + 1;
        }
    }
    return false;
}

struct ValueForm {
    bool quotedPrintable;
    bool binary;  // base64: a photo, a key, a sound
    bool preferred;
    Charset charset;
    bool charsetNamed;
};

static ValueForm ReadParams(const Importer* importer, const ContentLine& line)
{
    ValueForm form = {false, false, false, CHARSET_UTF8, false};
    ForEachParam(importer->text + line.params, line.paramsSize, [&](const char* name, size_t nameSize, const char* value, size_t valueSize) {
        bool bare = valueSize == 0 && name + nameSize == value;
        if (TextEqualsNoCase(name, nameSize, "ENCODING") || bare) {
            const char* word = bare ? name : value;
            size_t wordSize = bare ? nameSize : valueSize;
            form.quotedPrintable = form.quotedPrintable || TextEqualsNoCase(word, wordSize, "QUOTED-PRINTABLE");
            form.binary = form.binary || TextEqualsNoCase(word, wordSize, "B") || TextEqualsNoCase(word, wordSize, "BASE64");
            form.preferred = form.preferred || (bare && TextEqualsNoCase(word, wordSize, "PREF"));
        } else if (TextEqualsNoCase(name, nameSize, "TYPE")) {
            form.preferred = form.preferred || ListHas(value, valueSize, "PREF");
        } else if (TextEqualsNoCase(name, nameSize, "PREF")) {
            form.preferred = true;
        } else if (TextEqualsNoCase(name, nameSize, "CHARSET")) {
            form.charsetNamed = !TextEqualsNoCase(value, valueSize, "UTF-8");
            form.charset = TextEqualsNoCase(value, valueSize, "MACINTOSH") || TextEqualsNoCase(value, valueSize, "X-MAC-ROMAN") ? CHARSET_MAC_ROMAN
                                                                                                               : CHARSET_WINDOWS_1252;
        }
    });
    return form;
}

static int HexDigit(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The value as UTF-8 text, still escaped, at the end of the text block: quoted-printable decoded, and
// bytes in a named character set (or, decoded, not UTF-8) read in it.
static ImportText DecodeValue(Importer* importer, const ContentLine& line, const ValueForm& form)
{
    if (!form.quotedPrintable) {
        return ImportText{line.value, line.valueSize};
    }
    size_t start = AddImportText(importer, nullptr, 0);
    for (size_t i = 0; i < line.valueSize && !importer->failed; ++i) {
        const char* text = importer->text + line.value;
        char c = text[i];
        int high = c == '=' && i + 2 < line.valueSize ? HexDigit(text[i + 1]) : -1;
        int low = high >= 0 ? HexDigit(text[i + 2]) : -1;
        if (low >= 0) {
            c = static_cast<char>(high * 16 + low);
            i += 2;
        }
        AddImportText(importer, &c, 1);
    }
    ImportText decoded = {start, importer->textSize - start};
    Charset charset = form.charsetNamed ? form.charset
                                        : ChooseCharset(importer->text + start, decoded.size, FERRYLINE_CHARSET_AUTO, CHARSET_WINDOWS_1252);
    if (charset == CHARSET_UTF8 || importer->failed) {
        return decoded;
    }
    TextBlock utf8;
    if (!DecodeToUtf8(importer->text + start, decoded.size, charset, importer->env, &utf8)) {
        importer->failed = true;
        return decoded;
    }
    importer->textSize = start;
    decoded.offset = AddImportText(importer, utf8.bytes, utf8.size);
    decoded.size = utf8.size;
    ReleaseText(&utf8, importer->env);
    return decoded;
}

// Calls `take` with each component of an escaped value split at unescaped `separators` ("": none),
// unescaped into the text block: \n as a line break, \, \; \: \\ as the character.
template <typename Take>
static void ForEachComponent(Importer* importer, ImportText value, const char* separators, Take take)
{
    size_t i = 0;
    for (;;) {
        size_t start = AddImportText(importer, nullptr, 0);
        while (i < value.size && !importer->failed) {
            char c = importer->text[value.offset + i];
            if (c != '\0' && strchr(separators, c) != nullptr) {
                break;
            }
            if (c == '\\' && i + 1 < value.size) {
                char escaped = importer->text[value.offset + ++i];
                c = escaped == 'n' || escaped == 'N' ? '\n' : escaped;
            }
            AddImportText(importer, &c, 1);
            ++i;
        }
        if (importer->failed) {
            return;
        }
        take(ImportText{start, importer->textSize - start});
        if (i >= value.size) {
            return;
        }
        ++i;  // the separator
    }
}

static void AddToList(Importer* importer, ImportText** list, size_t* count, size_t* capacity, ImportText text)
{
    if (ImportRoomFor(importer, list, capacity, *count)) {
        (*list)[(*count)++] = text;
    }
}

// The name N gives when a card has no FN: prefix, given and additional names, family name, ", suffix".
static ImportText NameFromStructured(Importer* importer, ImportText structured)
{
    ImportText parts[5] = {};
    size_t count = 0;
    ForEachComponent(importer, structured, ";", [&](ImportText part) {
        if (count < 5) {
            parts[count++] = part;
        }
    });
    static const size_t kOrder[4] = {3, 1, 2, 0};
    size_t start = AddImportText(importer, nullptr, 0);
    for (size_t k = 0; k < 4; ++k) {
        ImportText part = parts[kOrder[k]];
        for (size_t i = 0; i < part.size && !importer->failed; ++i) {
            char c = importer->text[part.offset + i] == ',' ? ' ' : importer->text[part.offset + i];
            if (i == 0 && importer->textSize > start) {
                AddImportText(importer, " ", 1);
            }
            AddImportText(importer, &c, 1);
        }
    }
    if (parts[4].size > 0) {
        AddImportText(importer, ", ", 2);
        AddImportText(importer, importer->text + parts[4].offset, parts[4].size);
    }
    return ImportText{start, importer->textSize - start};
}

static void FinishCard(Importer* importer, CardState* card)
{
    ImportText name = card->fullName.size > 0 ? card->fullName : NameFromStructured(importer, card->structuredName);
    ImportText clean = AddCleanText(importer, importer->text + name.offset, name.size);
    if (card->isGroup) {
        size_t group = FindOrAddGroup(importer, importer->text + clean.offset, clean.size);
        for (size_t m = 0; m < card->memberCount; ++m) {
            AddGroupMember(importer, group, importer->text + card->members[m].offset, card->members[m].size, card->line);
        }
        return;
    }
    StartPerson(importer, clean, card->line);
    for (size_t e = 0; e < card->emailCount; ++e) {
        ImportText email = card->emails[e];
        AddPersonEmail(importer, importer->text + email.offset, email.size & ~kPreferredBit, (email.size & kPreferredBit) != 0);
    }
    for (size_t c = 0; c < card->categoryCount; ++c) {
        // Google's vCards put every contact in its own group of all contacts, no group of the user's.
        ImportText category = card->categories[c];
        if (!(category.size == 10 && memcmp(importer->text + category.offset, "myContacts", 10) == 0)) {
            AddPersonGroup(importer, FindOrAddGroup(importer, importer->text + category.offset, category.size));
        }
    }
    if (card->uid.size > 0) {
        SetPersonUid(importer, importer->text + card->uid.offset, card->uid.size);
    }
}

// One property of a card (depth 1); all but those below are passed over.
static void TakeProperty(Importer* importer, CardState* card, const ContentLine& line)
{
    ValueForm form = ReadParams(importer, line);
    if (form.binary) {
        return;
    }
    bool isEmail = NameIs(importer, line, "EMAIL");
    bool isCategories = NameIs(importer, line, "CATEGORIES");
    bool isMember = NameIs(importer, line, "MEMBER") || NameIs(importer, line, "X-ADDRESSBOOKSERVER-MEMBER");
    if (NameIs(importer, line, "KIND") || NameIs(importer, line, "X-ADDRESSBOOKSERVER-KIND")) {
        card->isGroup = card->isGroup || ValueIs(importer, line, "group");
    } else if (NameIs(importer, line, "FN") || NameIs(importer, line, "UID")) {
        ImportText* target = NameIs(importer, line, "FN") ? &card->fullName : &card->uid;
        ForEachComponent(importer, DecodeValue(importer, line, form), "", [&](ImportText text) { *target = text; });
    } else if (NameIs(importer, line, "N")) {
        card->structuredName = DecodeValue(importer, line, form);
    } else if (isEmail || isCategories || isMember) {
        // Categories are a list; 2.1 writers part them with semicolons as well, and escape nothing.
        const char* separators = isCategories ? (card->version21 ? ",;" : ",") : "";
        ImportText value = DecodeValue(importer, line, form);
        ForEachComponent(importer, value, separators, [&](ImportText text) {
            if (isEmail) {
                text.size |= form.preferred ? kPreferredBit : 0;
                AddToList(importer, &card->emails, &card->emailCount, &card->emailCapacity, text);
            } else if (isMember) {
                AddToList(importer, &card->members, &card->memberCount, &card->memberCapacity, text);
            } else {
                AddToList(importer, &card->categories, &card->categoryCount, &card->categoryCapacity, text);
            }
        });
    } else if (NameIs(importer, line, "VERSION")) {
        card->version21 = ValueIs(importer, line, "2.1");
    }
}

static void ReleaseCard(const FerrylineEnv* env, CardState* card)
{
    Release(env, card->emails, card->emailCapacity * sizeof(ImportText));
    Release(env, card->categories, card->categoryCapacity * sizeof(ImportText));
    Release(env, card->members, card->memberCapacity * sizeof(ImportText));
}

// Forgets the card before, keeping its lists' blocks.
static void ClearCard(CardState* card, unsigned long line)
{
    card->depth = 1;
    card->line = line;
    card->isGroup = false;
    card->version21 = false;
    card->fullName = card->structuredName = card->uid = ImportText{0, 0};
    card->emailCount = card->categoryCount = card->memberCount = 0;
}

int ReadVcardFile(const char* bytes, size_t size, const char* inputTitle, Importer* importer)
{
    const FerrylineEnv* env = importer->env;
    CardState card = {};
    const char* p = bytes;
    const char* end = bytes + size;
    unsigned long lines = 0;
    bool anyCard = false;
    while (p < end && !importer->failed) {
        unsigned long first = lines + 1;
        size_t mark = importer->textSize;
        ImportText logical = ReadLogicalLine(importer, &p, end, &lines);
        if (importer->failed) {
            break;
        }
        ContentLine line = SplitContentLine(importer, logical);
        bool isBegin = NameIs(importer, line, "BEGIN") && ValueIs(importer, line, "VCARD");
        bool isEnd = NameIs(importer, line, "END") && ValueIs(importer, line, "VCARD");
        if (isBegin && card.depth == 0) {
            ClearCard(&card, first);
            anyCard = true;
        } else if (isBegin) {
            ++card.depth;
        } else if (isEnd && card.depth > 0) {
            if (--card.depth == 0) {
                FinishCard(importer, &card);
                mark = importer->textSize;
            }
        } else if (card.depth == 1) {
            TakeProperty(importer, &card, line);
            mark = importer->textSize;  // what the card keeps
        }
        if (card.depth == 0) {
            importer->textSize = mark;
        }
    }
    // A file cut short keeps its last card.
    if (card.depth > 0 && !importer->failed) {
        FinishCard(importer, &card);
    }
    ReleaseCard(env, &card);
    if (importer->failed) {
        return 0;
    }
    if (!anyCard) {
        Tell(env, FERRYLINE_ERROR, kNotVcard, inputTitle);
        return 0;
    }
    return 1;
}

}  // namespace ferryline
