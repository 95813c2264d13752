// Any bytes as a W95 address book: ConvertWinToMac either writes a Mac file or rejects the input with
// its one message and leaves nothing; what it writes comes back through W95 unchanged where the names
// allow it, and a failed output step leaves nothing behind.
#include <stddef.h>
#include <stdint.h>
#include <string>

#include "fuzz/fuzz_checks.h"

static const char kNotAnAddressBook[] = "error: The file in.txt is not a Corvella W95 address book or is corrupt.";

// Every Mac line written holds no line break of its own and ends in CR LF.
static void CheckWrittenMac(const std::string& mac)
{
    size_t start = 0;
    while (start < mac.size()) {
        size_t end = mac.find("\r\n", start);
        Require(end != std::string::npos, "every Mac line ends in CR LF");
        size_t inner = mac.find_first_of(std::string("\r\n\0", 3), start);
        Require(inner == end, "no Mac line holds a line break or a zero byte");
        Require(end > start && mac[end - 1] == '>', "every Mac line ends its address with '>'");
        start = end + 2;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string w95(reinterpret_cast<const char*>(data), size);
    MemoryRun mac = RunInMemory(FERRYLINE_WIN_TO_MAC, w95, 0);
    if (mac.result == 0) {
        Require(mac.messages.size() == 1 && (mac.messages[0] == kNotAnAddressBook || IsUnicodeRefusal(mac.messages[0])),
                "a rejected stream shows its one message");
        return 0;
    }
    Require(mac.messages.empty(), "a W95 conversion that succeeds shows nothing");
    CheckWrittenMac(mac.output);
    if (NamesSurviveRoundTrip(w95)) {
        CheckMacRoundTrip(mac.output);
    }
    CheckFailedOutputStep(FERRYLINE_WIN_TO_MAC, w95, mac.outputSteps, size);
    return 0;
}
