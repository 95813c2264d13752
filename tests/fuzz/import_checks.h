// What every import must satisfy, for the vCard and the CSV fuzz targets: a refusal says only why; a
// book of either edition is one the edition's own reader takes whole, and a refused piece of output
// fails the import alone.
#ifndef FERRYLINE_IMPORT_CHECKS_H
#define FERRYLINE_IMPORT_CHECKS_H

#include <string>

#include "fuzz/fuzz_checks.h"

inline void CheckImport(FerrylineDirection toMac, FerrylineDirection toW95, const std::string& input, const char* const* refusals,
                        size_t refusalCount)
{
    MemoryRun mac = RunInMemory(toMac, input, 0);
    MemoryRun w95 = RunInMemory(toW95, input, 0);
    Require(mac.result == w95.result, "both editions take the same files");
    if (mac.result == 0) {
        bool known = false;
        for (size_t i = 0; i < refusalCount && mac.messages.size() == 1; ++i) {
            known = known || mac.messages[0].find(refusals[i]) != std::string::npos;
        }
        Require(known, "a refused file is told why in one message");
        return;
    }
    CheckWrittenW95(w95.output);
    MemoryRun macRead = RunInMemory(FERRYLINE_MAC_TO_WIN, mac.output, 0);
    Require(macRead.result == 1, "the Mac book written is one the Mac reader takes");
    MemoryRun w95Read = RunInMemory(FERRYLINE_WIN_TO_MAC, w95.output, 0);
    Require(w95Read.result == 1 && w95Read.messages.empty(), "the W95 book written is read back as complete");
    CheckFailedOutputStep(toW95, input, w95.outputSteps, input.size());
}

#endif
