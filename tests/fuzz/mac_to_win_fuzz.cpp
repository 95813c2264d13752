// Any bytes as a Mac address book: ConvertMacToWin refuses only UTF-16 text and a W95 book, and otherwise
// succeeds, writes a well-formed W95 stream
// that ConvertWinToMac reads back as complete, and a failed output step leaves nothing behind.
#include <stddef.h>
#include <stdint.h>
#include <string>

#include "fuzz/fuzz_checks.h"

static const char kReplacedWarning[] =
    "info: Some of the addresses contained invalid characters (&#^+).\nThese characters were replaced with dashes.";
static const char kNoNameWarning[] =
    "info: Some of the addresses did not have personal names, which are\nrequired by Corvella for Windows. "
    "These now have \"No Name ##\"\nas their names so you will need to fix them within Corvella.";

static const char kW95Book[] = "error: The file in.txt is a Corvella W95 address book, not a Macintosh one.";

static bool IsWarning(const std::string& message)
{
    return message == kReplacedWarning || message == kNoNameWarning;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string mac(reinterpret_cast<const char*>(data), size);
    MemoryRun w95 = RunInMemory(FERRYLINE_MAC_TO_WIN, mac, 0);
    if (w95.result == 0) {
        Require(w95.messages.size() == 1 && (IsUnicodeRefusal(w95.messages[0]) || w95.messages[0] == kW95Book),
                "only UTF-16 text and a W95 book are refused, each with its one message");
        return 0;
    }
    Require(w95.messages.size() <= 2, "at most the two warnings");
    for (const std::string& message : w95.messages) {
        Require(IsWarning(message), "only the two warnings follow a Mac to Windows conversion");
    }
    Require(w95.messages.size() < 2 || w95.messages[0] == kReplacedWarning, "the replacement warning comes first");
    CheckWrittenW95(w95.output);

    MemoryRun mac2 = RunInMemory(FERRYLINE_WIN_TO_MAC, w95.output, 0);
    Require(mac2.result == 1 && mac2.messages.empty(), "what ConvertMacToWin writes is read back as complete");
    if (NamesSurviveRoundTrip(w95.output)) {
        CheckMacRoundTrip(mac2.output);
    }
    CheckFailedOutputStep(FERRYLINE_MAC_TO_WIN, mac, w95.outputSteps, size);
    return 0;
}
