// What every fuzz input must satisfy, shared by both targets: a run that releases everything and
// hands on output only when it succeeds, a refused piece of output that is reported alone, and the
// round trip between the two formats.
#ifndef FERRYLINE_FUZZ_CHECKS_H
#define FERRYLINE_FUZZ_CHECKS_H

#include <stddef.h>
#include <stdint.h>
#include <string>
#include <vector>

#include "convert/ferryline.h"

// Ends the process with `what` when `condition` is false, so the fuzzer keeps the input.
void Require(bool condition, const char* what);

struct MemoryRun {
    int result;
    std::string output;  // empty unless the output exists
    std::vector<std::string> messages;
    int outputSteps;
};

// Converts `input`, held in a block of exactly its size, with a writer that refuses its
// `failOutputStep`-th piece (0: none), and checks what holds after any run: every block freed, and
// output only on success.
MemoryRun RunInMemory(FerrylineDirection direction, const std::string& input, int failOutputStep);

// Fails one output step of a run that succeeded with `steps` of them, picked by `choice`: the
// converter must report "Could not write to output file" alone and leave no output.
void CheckFailedOutputStep(FerrylineDirection direction, const std::string& input, int steps, size_t choice);

// Whether a Mac file written from this W95 stream comes back unchanged through W95: its names and
// group names hold no double quote and don't end in a space, and no address is the group address.
bool NamesSurviveRoundTrip(const std::string& w95);

// Whether `message` refuses a UTF-16 text, which neither direction converts byte by byte.
bool IsUnicodeRefusal(const std::string& message);

// `mac` was written by ConvertWinToMac: it converts to W95 without a warning, and that back to `mac`.
void CheckMacRoundTrip(const std::string& mac);

// A W95 stream as ConvertMacToWin writes it: between its header and trailer, no line break.
void CheckWrittenW95(const std::string& w95);

#endif
