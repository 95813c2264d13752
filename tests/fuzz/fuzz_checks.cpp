#include "fuzz/fuzz_checks.h"

#include <stdio.h>
#include <stdlib.h>

#include "convert/convert.h"
#include "fuzz/memory_platform.h"

static const char kInput[] = "in.txt";
static const char kOutput[] = "out.txt";
static const char kWriteFailed[] = "error: Could not write to output file";

void Require(bool condition, const char* what)
{
    if (!condition) {
        fprintf(stderr, "property broken: %s\n", what);
        abort();
    }
}

MemoryRun RunInMemory(Converter convert, const std::string& input, int failOutputStep)
{
    InstallMemoryPlatform();
    ResetMemoryPlatform(failOutputStep);
    PutMemoryFile(kInput, input);
    MemoryRun run;
    run.result = convert(kInput, kInput, kOutput, kOutput);
    const MemoryRecord& record = MemoryRecorded();
    run.messages = record.messages;
    run.outputSteps = record.outputSteps;

    Require(run.result == 0 || run.result == 1, "a converter returns 1 or 0");
    Require(record.opens == record.closes, "every file opened is closed");
    Require(record.allocations == 1 && record.frees == 1, "the input buffer is allocated once and freed");
    std::string stored;
    Require(GetMemoryFile(kInput, &stored) && stored == input, "the input is unchanged");
    bool outputExists = GetMemoryFile(kOutput, &run.output);
    Require(outputExists == (run.result == 1), "an output exists exactly when the conversion succeeded");
    Require(MemoryFileCount() == (run.result == 1 ? 2u : 1u), "no temporary file is left");
    return run;
}

void CheckFailedOutputStep(Converter convert, const std::string& input, int steps, size_t choice)
{
    int step = 1 + static_cast<int>(choice % static_cast<size_t>(steps));
    MemoryRun failed = RunInMemory(convert, input, step);
    Require(failed.result == 0, "a failed output step fails the conversion");
    Require(failed.messages == std::vector<std::string>{kWriteFailed},
            "a failed output step shows the write failure and nothing else");
}

// One W95 field as the reader takes it: line breaks dropped, then one trailing space removed.
static std::string FieldAt(const std::string& w95, size_t* position)
{
    std::string field;
    size_t p = *position + 1;
    for (; p < w95.size(); ++p) {
        char c = w95[p];
        if (c == '&' || c == '#' || c == '^' || c == '+' || c == '\0') {
            break;
        }
        if (c != '\r' && c != '\n') {
            field += c;
        }
    }
    if (!field.empty() && field.back() == ' ') {
        field.pop_back();
    }
    *position = p;
    return field;
}

bool NamesSurviveRoundTrip(const std::string& w95)
{
    size_t p = 0;
    while (p < w95.size() && w95[p] != '+' && w95[p] != '\0') {
        char marker = w95[p];
        if (marker != '&' && marker != '#' && marker != '^') {
            ++p;
            continue;
        }
        std::string field = FieldAt(w95, &p);
        if (marker == '^') {
            if (field == "GROUP@GROUP") {
                return false;
            }
        } else if (field.find('"') != std::string::npos || (!field.empty() && field.back() == ' ')) {
            return false;
        }
    }
    return true;
}

void CheckMacRoundTrip(const std::string& mac)
{
    MemoryRun w95 = RunInMemory(ConvertMacToWin, mac, 0);
    Require(w95.result == 1 && w95.messages.empty(), "a Mac file written by ConvertWinToMac converts without warnings");
    MemoryRun back = RunInMemory(ConvertWinToMac, w95.output, 0);
    Require(back.result == 1 && back.messages.empty(), "its W95 stream is read back as complete");
    Require(back.output == mac, "the Mac file comes back through W95 byte for byte");
}

void CheckWrittenW95(const std::string& w95)
{
    Require(w95.compare(0, 6, "&Main ") == 0, "a written W95 stream starts with its header");
    Require(w95.find('+') == w95.size() - 1, "a written W95 stream ends at its one trailer");
    Require(w95.find_first_of(std::string("\r\n\0", 3)) == std::string::npos,
            "a written W95 stream holds no line break or zero byte");
}
