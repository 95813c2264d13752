// Finding the bytes both formats give a meaning to, several bytes at a time.
#ifndef FERRYLINE_SCAN_H
#define FERRYLINE_SCAN_H

#include <stddef.h>

// The first byte in [from, end) that is a W95 marker (& # ^ +), a line end (CR, LF) or a zero byte,
// or `end` when there is none. Both converters stop at exactly these: a Mac line ends at a line end or
// a zero byte and needs its markers replaced, and a W95 field ends at a marker or a zero byte and
// loses its line ends.
const char* FindSpecialByte(const char* from, const char* end);

// The same, stopping at '<' as well: a Mac line is split at its first '<', found on the same pass.
const char* FindSpecialByteOrBracket(const char* from, const char* end);

// The two finders one conversion uses: the portable ones above, or their twins from an instruction-set
// path, which stop at exactly the same bytes.
struct StopFinders {
    const char* (*special)(const char* from, const char* end);
    const char* (*specialOrBracket)(const char* from, const char* end);
};

// The fastest finders this processor runs.
StopFinders ChooseStopFinders();

// The instruction-set path: true with its finders where this build has one for its processor family
// and the processor runs it (scan_sse2.cpp), false elsewhere (scan_no_wide.cpp).
bool GetWideStopFinders(StopFinders* finders);

#endif
