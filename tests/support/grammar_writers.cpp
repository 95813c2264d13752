#include "support/grammar_writers.h"

#include <stdio.h>

#include "convert/charset.h"
#include "convert/ferryline.h"
#include "convert/mac_grammar.h"
#include "convert/w95_grammar.h"

namespace {

// `text` in UTF-8 from `charset`, kept in `room`.
FerrylineText Decoded(FerrylineText text, Charset charset, std::string* room)
{
    if (text.bytes == nullptr) {
        return text;
    }
    room->assign(3 * text.size + 1, '\0');
    return FerrylineText{room->data(), DecodeEightBit(text.bytes, text.size, charset, &(*room)[0])};
}

// The change's line, its texts read in `charset`, the set the first look chose.
void Describe(Charset charset, std::string* changes, FerrylineChangeKind kind, uint64_t line, FerrylineText text,
              FerrylineText name, FerrylineText address)
{
    std::string rooms[3];
    FerrylineChange change = {kind, line, Decoded(text, charset, &rooms[0]), Decoded(name, charset, &rooms[1]),
                              Decoded(address, charset, &rooms[2])};
    size_t length = ferryline_describe_change(&change, nullptr, 0);
    std::string described(length + 1, '\0');
    ferryline_describe_change(&change, &described[0], described.size());
    described.back() = '\n';
    *changes += described;
}

FerrylineText TextOf(const std::string& text)
{
    return FerrylineText{text.data(), text.size()};
}

// Appends `text` with its markers as dashes; returns whether there was one.
bool AppendReplacing(std::string* out, FerrylineText text)
{
    bool replaced = false;
    for (size_t i = 0; i < text.size; ++i) {
        replaced = replaced || IsW95Marker(text.bytes[i]);
        *out += IsW95Marker(text.bytes[i]) ? '-' : text.bytes[i];
    }
    return replaced;
}

struct MacToW95 {
    GrammarConversion* result;
    Charset charset;
    unsigned long placeholders;
    bool hadGroup;
    std::string lastGroup;  // the last group line's name other than "Main"
};

void WriteMacLine(void* context, const MacLine& line)
{
    MacToW95* run = static_cast<MacToW95*>(context);
    std::string* out = &run->result->output;
    std::string placeholder;
    FerrylineText name = line.name;
    if (line.nameless) {
        char number[32];
        snprintf(number, sizeof number, "%02lu", ++run->placeholders);
        placeholder = std::string("No Name ") + number;
        name = TextOf(placeholder);
        Describe(run->charset, &run->result->changes, FERRYLINE_PLACEHOLDER_NAME, line.number, name, {nullptr, 0}, line.text);
    }
    bool replaced;
    if (line.isGroup) {
        if (line.isMainGroup) {
            FerrylineText before = run->hadGroup ? TextOf(run->lastGroup) : FerrylineText{nullptr, 0};
            Describe(run->charset, &run->result->changes, FERRYLINE_MAIN_GROUP_MARKED, line.number, before, name,
                     TextOf(kGroupAddress));
        } else {
            run->lastGroup.assign(name.bytes, name.size);
            run->hadGroup = true;
        }
        *out += '&';
        replaced = AppendReplacing(out, name);
        *out += ' ';
    } else {
        *out += '#';
        replaced = AppendReplacing(out, name);
        *out += " ^";
        replaced = AppendReplacing(out, line.address) || replaced;
        *out += ' ';
    }
    if (replaced) {
        Describe(run->charset, &run->result->changes, FERRYLINE_RESERVED_REPLACED, line.number, {"", 0}, name, line.address);
    }
}

struct W95ToMac {
    GrammarConversion* result;
    Charset charset;
    Field lastGroup;
};

void AppendFieldText(std::string* out, const Field& field)
{
    for (size_t i = 0; i < field.textEnd; ++i) {
        if (!IsLineBreak(field.start[i])) {
            *out += field.start[i];
        }
    }
}

void WriteW95Item(void* context, const W95Item& item)
{
    W95ToMac* run = static_cast<W95ToMac*>(context);
    std::string* out = &run->result->output;
    switch (item.kind) {
    case W95_GROUP:
        if (item.isMain && !item.isFirst) {
            Describe(run->charset, &run->result->changes, FERRYLINE_MAIN_GROUP_FOLDED, item.entry, FieldSpan(run->lastGroup),
                     FieldSpan(item.name), {nullptr, 0});
            return;
        }
        if (!item.isMain) {
            *out += '"';
            AppendFieldText(out, item.name);
            *out += "\" <GROUP@GROUP>\r\n";
        }
        run->lastGroup = item.name;
        return;
    case W95_ENTRY_WITHOUT_ADDRESS:
        Describe(run->charset, &run->result->changes, FERRYLINE_DROPPED_ENTRY, item.entry, FieldSpan(item.name), {nullptr, 0},
                 {nullptr, 0});
        return;
    case W95_ENTRY: {
        bool quoted = NeedsQuotes(item.name.start, item.name.textEnd);
        *out += quoted ? "\"" : "";
        AppendFieldText(out, item.name);
        *out += quoted ? "\" <" : " <";
        AppendFieldText(out, item.address);
        *out += ">\r\n";
        return;
    }
    }
}

}  // namespace

GrammarConversion W95FromGrammar(const std::string& mac)
{
    GrammarConversion result = {true, "&Main ", ""};
    size_t start = mac.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    FerrylineLook look;
    ferryline_look(mac.data(), mac.size(), FERRYLINE_CHARSET_AUTO, &look);
    MacToW95 run = {&result, ChooseCharset(mac.data(), mac.size(), look.charset, CHARSET_UTF8), 0, false, ""};
    ReadMacLines(mac.data() + start, mac.size() - start, WriteMacLine, &run);
    result.output += '+';
    return result;
}

GrammarConversion MacFromGrammar(const std::string& w95)
{
    GrammarConversion result = {true, "", ""};
    FerrylineLook look;
    ferryline_look(w95.data(), w95.size(), FERRYLINE_CHARSET_AUTO, &look);
    size_t start = w95.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    W95ToMac run = {&result, ChooseCharset(w95.data(), w95.size(), look.charset, CHARSET_UTF8),
                    ReadField(w95.data(), w95.data())};
    result.ok = ReadW95Items(w95.data() + start, w95.size() - start, WriteW95Item, &run);
    if (!result.ok) {
        result.output.clear();
    }
    return result;
}
