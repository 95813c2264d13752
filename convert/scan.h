// Finding the bytes both formats give a meaning to, a block of 64 bytes at a time.
#ifndef FERRYLINE_SCAN_H
#define FERRYLINE_SCAN_H

#include <stddef.h>
#include <stdint.h>

// Where the bytes of each class stand in a block of up to 64: bit i is set when byte i is in it.
// A Mac line ends at a zero byte or a line break, needs its markers replaced and splits at its first
// '<'; a W95 field ends at a marker or a zero byte and loses its line breaks.
struct ByteClasses {
    uint64_t zeros;     // the zero byte
    uint64_t breaks;    // CR, LF
    uint64_t markers;   // & # ^ +
    uint64_t brackets;  // <
};

// Finds the classes of the `size` bytes (1 to 64) at `block`, reading no byte past them.
typedef ByteClasses (*ClassifyFunction)(const char* block, size_t size);

// The portable one, eight bytes at a time.
ByteClasses ClassifyBytes(const char* block, size_t size);

// The fastest this processor runs: ClassifyBytes, or its twin from an instruction-set path, which
// gives exactly the same classes.
ClassifyFunction ChooseClassify();

// The instruction-set path: its function where this build has one for its processor family and the
// processor runs it (scan_sse2.cpp), null elsewhere (scan_no_wide.cpp).
ClassifyFunction WideClassify();

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

// A run from a start to the first byte of a stop class, with what lies on the way.
struct ScannedRun {
    const char* end;      // the stop, or the span's end
    const char* bracket;  // the first '<' before it, or null
    bool hasMarkers;      // a marker before it
    bool hasBreaks;       // a line break before it
};

// From `from` (inside the span) to the first byte of a class in `stops`, which is a ByteClasses with
// all bits set in each class that stops and none in the others.
inline ScannedRun ScanRun(Scan* scan, const char* from, const ByteClasses& stops)
{
    ScannedRun run = {nullptr, nullptr, false, false};
    size_t at = static_cast<size_t>(from - scan->bytes);
    while (at < scan->size) {
        size_t into = at - scan->window;  // wraps, and so fails the test, when `at` is before the window
        if (into >= scan->windowSize) {
            scan->window = at;
            scan->windowSize = scan->size - at < 64 ? scan->size - at : 64;
            scan->classes = scan->classify(scan->bytes + at, scan->windowSize);
            into = 0;
        }
        const ByteClasses& c = scan->classes;
        uint64_t ahead = ~uint64_t{0} << into;
        uint64_t ends = ((c.zeros & stops.zeros) | (c.breaks & stops.breaks) | (c.markers & stops.markers) |
                         (c.brackets & stops.brackets)) & ahead;
        uint64_t before = ends != 0 ? (ends & (~ends + 1)) - 1 : ~uint64_t{0};
        uint64_t inRun = ahead & before;
        if (run.bracket == nullptr && (c.brackets & inRun) != 0) {
            run.bracket = scan->bytes + scan->window + __builtin_ctzll(c.brackets & inRun);
        }
        run.hasMarkers = run.hasMarkers || (c.markers & inRun) != 0;
        run.hasBreaks = run.hasBreaks || (c.breaks & inRun) != 0;
        if (ends != 0) {
            run.end = scan->bytes + scan->window + __builtin_ctzll(ends);
            return run;
        }
        at = scan->window + scan->windowSize;
    }
    run.end = scan->bytes + scan->size;
    return run;
}

#endif
