// Finding the bytes both formats give a meaning to, several bytes at a time.
#ifndef FERRYLINE_SCAN_H
#define FERRYLINE_SCAN_H

#include <stddef.h>

// The first byte in [from, end) that is a W95 marker (& # ^ +), a line end (CR, LF) or a zero byte,
// or `end` when there is none. Both converters stop at exactly these: a Mac line ends at a line end or
// a zero byte and needs its markers replaced, and a W95 field ends at a marker or a zero byte and
// loses its line ends.
const char* FindSpecialByte(const char* from, const char* end);

// Whether FindSpecialByte stops at `c`.
bool IsSpecialByte(char c);

#endif
