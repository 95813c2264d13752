#include "convert/w95_grammar.h"

Field ReadField(const char* marker, const char* end)
{
    const char* start = marker + 1;
    const char* p = start;
    bool hasBreaks = false;
    while (p < end && !IsW95Delimiter(*p)) {
        hasBreaks = hasBreaks || IsLineBreak(*p);
        ++p;
    }
    const char* last = p;
    while (last > start && IsLineBreak(last[-1])) {
        --last;
    }
    if (last > start && last[-1] == ' ') {
        --last;
    }
    size_t textEnd = static_cast<size_t>(last - start);
    return Field{start, p, hasBreaks, NeedsQuotes(start, textEnd), textEnd, static_cast<size_t>(end - start)};
}

bool FieldWithBreaksEquals(const Field& field, const char* literal)
{
    const char* p = field.start;
    const char* textEnd = field.start + field.textEnd;
    for (; p < textEnd; ++p) {
        if (IsLineBreak(*p)) {
            continue;
        }
        if (*literal == '\0' || *literal != *p) {
            return false;
        }
        ++literal;
    }
    return *literal == '\0';
}

// The end of the input reads as the zero byte that ends the data.
bool ReadW95Items(const char* bytes, size_t size, W95ItemVisitor visit, void* context)
{
    const char* end = bytes + size;
    const char* p = bytes;
    uint64_t entries = 0;
    for (;;) {
        if (!(p < end && *p == '&')) {
            return false;
        }
        W95Item group = {};
        group.kind = W95_GROUP;
        group.entry = entries;
        group.name = ReadField(p, end);
        group.isMain = FieldEquals(group.name, kMainGroup);
        group.isFirst = p == bytes;
        p = group.name.end;
        visit(context, group);
        while (p < end && *p == '#') {
            W95Item entry = {};
            entry.entry = ++entries;
            entry.name = ReadField(p, end);
            p = entry.name.end;
            if (!(p < end && *p == '^')) {
                entry.kind = W95_ENTRY_WITHOUT_ADDRESS;
                visit(context, entry);
                break;
            }
            entry.kind = W95_ENTRY;
            entry.address = ReadField(p, end);
            p = entry.address.end;
            visit(context, entry);
        }
        if (p < end && *p == '+') {
            return true;
        }
        if (!(p < end) || *p == '\0') {
            return false;
        }
    }
}
