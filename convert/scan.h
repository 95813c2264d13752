// Finding the bytes both formats give a meaning to, a block of 64 bytes at a time.
#ifndef FERRYLINE_SCAN_H
#define FERRYLINE_SCAN_H

#include <stddef.h>
#include <stdint.h>

// Where the bytes that matter to one converter stand in a block of up to 64: bit i is set when byte i
// is one of them. A Mac line ends at a line break or a zero byte, needs its markers (& # ^ +) replaced
// and splits at its first '<'; a W95 field ends at a marker or a zero byte and loses its line breaks.
struct ByteClasses {
    uint64_t ends;      // Mac: CR, LF, the zero byte. W95: the markers, the zero byte.
    uint64_t breaks;    // W95 only: CR, LF
    uint64_t markers;   // Mac only: the markers
    uint64_t brackets;  // Mac only: <
};

// Finds the classes of the `size` bytes (1 to 64) at `block`, reading no byte past them.
typedef ByteClasses (*ClassifyFunction)(const char* block, size_t size);

struct Classifiers {
    ClassifyFunction mac;
    ClassifyFunction w95;
};

// The portable ones, eight bytes at a time.
ByteClasses ClassifyMacBytes(const char* block, size_t size);
ByteClasses ClassifyW95Bytes(const char* block, size_t size);

// The fastest this processor runs: the portable ones, or their twins from an instruction-set path,
// which give exactly the same classes.
Classifiers ChooseClassifiers();

// The instruction-set path: true with its functions where this build has one for its processor
// family and the processor runs it (scan_sse2.cpp), false elsewhere (scan_no_wide.cpp).
bool GetWideClassifiers(Classifiers* classifiers);

// A walk through a span by windows of 64 bytes, each classified once. Lines and fields are found in
// the window that holds their start, so most take one window between them.
struct Scan {
    const char* bytes;
    size_t size;
    size_t window;      // where the window starts
    size_t windowSize;  // 0 before the first
    ByteClasses classes;
    ClassifyFunction classify;
};

inline Scan StartScan(const char* bytes, size_t size, ClassifyFunction classify)
{
    Scan scan = {bytes, size, 0, 0, {0, 0, 0, 0}, classify};
    return scan;
}

// A run from a start to the first end, with what lies on the way.
struct ScannedRun {
    const char* end;      // the stop, or the span's end
    const char* bracket;  // the first '<' before it, or null
    bool hasMarkers;      // a marker before it
    bool hasBreaks;       // a line break before it
};

// ScanRun for a run that does not end in the window that holds its start.
ScannedRun ScanRunSlowly(Scan* scan, const char* from);

// From `from` (inside the span) to the first end at or after it. Inline for the run that ends in the
// window that holds its start, as most lines and fields do.
inline ScannedRun ScanRun(Scan* scan, const char* from)
{
    size_t into = static_cast<size_t>(from - scan->bytes) - scan->window;  // wraps when before the window
    if (into < scan->windowSize) {
        const ByteClasses& c = scan->classes;
        uint64_t ends = c.ends >> into;
        if (ends != 0) {
            uint64_t before = (ends & (~ends + 1)) - 1;
            uint64_t brackets = (c.brackets >> into) & before;
            ScannedRun run = {from + __builtin_ctzll(ends), brackets != 0 ? from + __builtin_ctzll(brackets) : nullptr,
                              ((c.markers >> into) & before) != 0, ((c.breaks >> into) & before) != 0};
            return run;
        }
    }
    return ScanRunSlowly(scan, from);
}

#endif
