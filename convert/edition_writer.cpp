// The neutral list written as a book of either edition, in the edition's character set and with the
// rules its converters follow: Mac names quoted when they hold a special character and groups as
// "Name" <GROUP@GROUP> lines; W95 fields without the markers & # ^ +, and a name for every entry.
#include <stdio.h>
#include <string.h>

#include "convert/converters.h"
#include "convert/env.h"
#include "convert/format.h"
#include "convert/import.h"
#include "convert/mac_grammar.h"

struct EditionWriter {
    Output* output;
    const FerrylineEnv* env;
    bool w95;
    Charset charset;
    char* scratch;  // a text in the edition's set, as it is written
    size_t scratchCapacity;
    unsigned long placeholders;
    unsigned* warnings;
};

// A text in the edition's set.
struct EditionText {
    const char* bytes;
    size_t size;
    size_t lost;          // characters the set lacks, now '?'
    bool markersReplaced; // W95: & # ^ + now '-'
};

// Encodes `text` into the scratch block from `at` on: control characters as spaces, what the set lacks
// as '?', and in a W95 book the markers as dashes. A UTF-8 character is never shorter than its byte.
static EditionText Encode(EditionWriter* writer, FerrylineText text, size_t at)
{
    EditionText encoded = {writer->scratch + at, 0, 0, false};
    char* out = writer->scratch + at;
    encoded.size = EncodeFromUtf8(text.bytes, text.size, writer->charset, out, &encoded.lost);
    for (size_t i = 0; i < encoded.size; ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        out[i] = c < 0x20 || c == 0x7F ? ' ' : out[i];
    }
    if (writer->w95) {
        encoded.markersReplaced = CopyReplacingMarkers(out, out, encoded.size);
    }
    return encoded;
}

static int Shown(size_t size)
{
    return size < 200 ? static_cast<int>(size) : 200;
}

static void NoteLost(EditionWriter* writer, unsigned long line, FerrylineText name, FerrylineText address, size_t lost)
{
    bool group = address.bytes == kGroupAddress;
    NoteImportChange(writer->env, FERRYLINE_CHARACTER_REPLACED, line, "line %lu: %s\"%.*s\"%s%.*s%s: %lu %s that %s can't hold became \"?\"", line,
                     group ? "group " : "", Shown(name.size), name.bytes, group ? "" : " <", group ? 0 : Shown(address.size),
                     address.bytes, group ? "" : ">", static_cast<unsigned long>(lost), lost == 1 ? "character" : "characters", CharsetName(writer->charset));
}

static void PutGroup(EditionWriter* writer, FerrylineText name, unsigned long line)
{
    EditionText encoded = Encode(writer, name, 0);
    FerrylineText address = {kGroupAddress, sizeof kGroupAddress - 1};
    if (encoded.lost > 0) {
        NoteLost(writer, line, name, address, encoded.lost);
    }
    if (!writer->w95) {
        PutByte(writer->output, '"');
        PutBytes(writer->output, encoded.bytes, encoded.size);
        PutBytes(writer->output, kGroupLineEnd, sizeof kGroupLineEnd - 1);
        return;
    }
    if (encoded.markersReplaced) {
        *writer->warnings |= WARNING_RESERVED_REPLACED;
        NoteLineChange(writer->env, FERRYLINE_RESERVED_REPLACED, line, {"", 0}, name, address);
    }
    if (TextEquals(encoded.bytes, encoded.size, kMainGroup)) {
        NoteImportChange(writer->env, FERRYLINE_IMPORT_NOTE, line,
                         "line %lu: group \"Main\" is the W95 book's default group; its entries join the group before it", line);
    }
    PutByte(writer->output, '&');
    PutBytes(writer->output, encoded.bytes, encoded.size);
    PutByte(writer->output, ' ');
}

static void PutEntry(EditionWriter* writer, const FerrylineBookEntry* entry, unsigned long line)
{
    Output* output = writer->output;
    EditionText name = Encode(writer, entry->name, 0);
    EditionText address = Encode(writer, entry->address, name.size);
    if (name.lost + address.lost > 0) {
        NoteLost(writer, line, entry->name, entry->address, name.lost + address.lost);
    }
    if (!writer->w95) {
        // A Mac line with this address reads as a group.
        if (TextEquals(address.bytes, address.size, kGroupAddress)) {
            NoteImportChange(writer->env, FERRYLINE_IMPORT_NOTE, line, "line %lu: \"%.*s\" left out, its address GROUP@GROUP marks a group in a Mac book",
                             line, Shown(entry->name.size), entry->name.bytes);
            return;
        }
        // A line starting with '&' could make the book look like a W95 one.
        bool quoted = NeedsQuotes(name.bytes, name.size) || (name.size > 0 && name.bytes[0] == '&');
        if (name.size == 0) {
            // Without a name the line is the bare address, unless its own characters would split it.
            bool bare = memchr(address.bytes, '<', address.size) == nullptr && !(address.size > 0 && (address.bytes[0] == '"' || address.bytes[0] == '&'));
            PutBytes(output, bare ? "" : "<", bare ? 0 : 1);
            PutBytes(output, address.bytes, address.size);
            PutBytes(output, bare ? "\r\n" : kEntryLineEnd, bare ? 2 : sizeof kEntryLineEnd - 1);
            return;
        }
        PutBytes(output, "\"", quoted ? 1 : 0);
        PutBytes(output, name.bytes, name.size);
        PutBytes(output, quoted ? "\" <" : " <", quoted ? 3 : 2);
        PutBytes(output, address.bytes, address.size);
        PutBytes(output, kEntryLineEnd, sizeof kEntryLineEnd - 1);
        return;
    }
    // Corvella for Windows wants a name for every entry.
    char placeholder[40];
    if (name.size == 0) {
        int length = snprintf(placeholder, sizeof placeholder, kPlaceholderFormat, ++writer->placeholders);
        name.bytes = placeholder;
        name.size = length > 0 ? static_cast<size_t>(length) : 0;
        *writer->warnings |= WARNING_PLACEHOLDER_NAMES;
        NoteLineChange(writer->env, FERRYLINE_PLACEHOLDER_NAME, line, {name.bytes, name.size}, {nullptr, 0}, entry->address);
    }
    if (name.markersReplaced || address.markersReplaced) {
        *writer->warnings |= WARNING_RESERVED_REPLACED;
        NoteLineChange(writer->env, FERRYLINE_RESERVED_REPLACED, line, {"", 0}, entry->name, entry->address);
    }
    PutByte(output, '#');
    PutBytes(output, name.bytes, name.size);
    PutBytes(output, " ^", 2);
    PutBytes(output, address.bytes, address.size);
    PutByte(output, ' ');
}

int WriteEditionBook(const FerrylineBook* book, const unsigned long* lines, FerrylineEdition edition, Output* output,
                     const FerrylineEnv* env, unsigned* warnings)
{
    // The entries in the order of their groups, the book's default group first; each group's in the
    // order of the book.
    size_t groups = book->groupCount + 1;
    size_t orderBytes = (book->entryCount + groups + 1) * sizeof(size_t);
    size_t* order = static_cast<size_t*>(Allocate(env, orderBytes));
    size_t longest = 64;
    for (size_t i = 0; i < book->entryCount; ++i) {
        size_t both = book->entries[i].name.size + book->entries[i].address.size;
        longest = both > longest ? both : longest;
    }
    for (size_t g = 0; g < book->groupCount; ++g) {
        longest = book->groups[g].size > longest ? book->groups[g].size : longest;
    }
    EditionWriter writer = {output, env, edition == FERRYLINE_EDITION_W95, edition == FERRYLINE_EDITION_W95 ? CHARSET_WINDOWS_1252 : CHARSET_MAC_ROMAN,
                            static_cast<char*>(Allocate(env, longest)), longest, 0, warnings};
    if (order == nullptr || writer.scratch == nullptr) {
        Release(env, order, orderBytes);
        Release(env, writer.scratch, writer.scratchCapacity);
        return 0;
    }
    size_t* start = order + book->entryCount;  // start[g] for the group g - 1, the default group as 0
    memset(start, 0, (groups + 1) * sizeof(size_t));
    for (size_t i = 0; i < book->entryCount; ++i) {
        size_t group = book->entries[i].group;
        ++start[(group == FERRYLINE_NO_GROUP ? 0 : group + 1) + 1];
    }
    for (size_t g = 0; g < groups; ++g) {
        start[g + 1] += start[g];
    }
    for (size_t i = 0; i < book->entryCount; ++i) {
        size_t group = book->entries[i].group;
        order[start[group == FERRYLINE_NO_GROUP ? 0 : group + 1]++] = i;
    }
    // Filling moved each start to the next group's.
    if (writer.w95) {
        PutBytes(output, kW95Header, sizeof kW95Header - 1);
    }
    size_t from = 0;
    for (size_t g = 0; g < groups && output->status == FERRYLINE_OK; ++g) {
        unsigned long firstLine = from < start[g] ? (lines != nullptr ? lines[order[from]] : static_cast<unsigned long>(order[from] + 1)) : 0;
        if (g > 0) {
            PutGroup(&writer, book->groups[g - 1], firstLine);
        }
        for (size_t k = from; k < start[g]; ++k) {
            PutEntry(&writer, &book->entries[order[k]], lines != nullptr ? lines[order[k]] : static_cast<unsigned long>(order[k] + 1));
        }
        from = start[g];
    }
    if (writer.w95) {
        PutBytes(output, kW95Trailer, sizeof kW95Trailer - 1);
    }
    Release(env, order, orderBytes);
    Release(env, writer.scratch, writer.scratchCapacity);
    return 1;
}
