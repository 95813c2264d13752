// Each converter written the plain way, from the lines or items its edition's grammar reads: what the
// converters' fast paths must write, byte for byte, and the changes they must report.
#ifndef FERRYLINE_GRAMMAR_WRITERS_H
#define FERRYLINE_GRAMMAR_WRITERS_H

#include <string>

struct GrammarConversion {
    bool ok;              // false: the input is no complete W95 book
    std::string output;   // empty unless ok
    std::string changes;  // one line ending in '\n' a change, as ferryline_describe_change writes it
};

// The W95 book for a Mac book, converted byte for byte (a UTF-8 byte order mark is not part of it).
GrammarConversion W95FromGrammar(const std::string& mac);
// The Mac book for a W95 book, converted byte for byte (a UTF-8 byte order mark is not part of it).
GrammarConversion MacFromGrammar(const std::string& w95);

#endif
