#include "fuzz/fuzz_checks.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>


static const char kWriteFailed[] = "error: Could not write to output file";

void Require(bool condition, const char* what)
{
    if (!condition) {
        fprintf(stderr, "property broken: %s\n", what);
        abort();
    }
}

struct FuzzRun {
    MemoryRun run;
    int failAt;
    int blocksHeld;
};

static FerrylineStatus TakePiece(void* context, const void* data, size_t size)
{
    FuzzRun* fuzz = static_cast<FuzzRun*>(context);
    if (++fuzz->run.outputSteps == fuzz->failAt) {
        return FERRYLINE_COULD_NOT_WRITE;
    }
    fuzz->run.output.append(static_cast<const char*>(data), size);
    return FERRYLINE_OK;
}

static void TakeMessage(void* context, FerrylineMessageKind kind, const char* text)
{
    FuzzRun* fuzz = static_cast<FuzzRun*>(context);
    fuzz->run.messages.push_back((kind == FERRYLINE_ERROR ? "error: " : "info: ") + std::string(text));
}

static void* CountingAlloc(void* context, void* block, size_t, size_t newSize)
{
    FuzzRun* fuzz = static_cast<FuzzRun*>(context);
    fuzz->blocksHeld += (block == nullptr ? 1 : 0) - (newSize == 0 ? 1 : 0);
    if (newSize == 0) {
        free(block);
        return nullptr;
    }
    return realloc(block, newSize);
}

MemoryRun RunInMemory(FerrylineDirection direction, const std::string& input, int failOutputStep)
{
    FuzzRun fuzz = {MemoryRun{0, std::string(), {}, 0}, failOutputStep, 0};
    FerrylineListener listener = {&fuzz, TakeMessage, nullptr};
    FerrylineEnv env = {CountingAlloc, &fuzz, &listener};
    // A block of exactly the input's size, so that a read past its end is caught.
    std::vector<char> bytes(input.begin(), input.end());
    FerrylineStatus status =
        ferryline_convert(direction, nullptr, bytes.data(), bytes.size(), "in.txt", TakePiece, &fuzz, &env, nullptr);
    fuzz.run.result = status == FERRYLINE_OK ? 1 : 0;

    const int code = static_cast<int>(status);
    Require(code >= 0 && code <= static_cast<int>(FERRYLINE_SAME_FILE), "a conversion returns a status");
    Require(fuzz.blocksHeld == 0, "every block is freed");
    if (fuzz.run.result == 0) {
        fuzz.run.output.clear();
    }
    return fuzz.run;
}

void CheckFailedOutputStep(FerrylineDirection direction, const std::string& input, int steps, size_t choice)
{
    if (steps == 0) {
        return;  // nothing was handed on, so nothing can be refused
    }
    int step = 1 + static_cast<int>(choice % static_cast<size_t>(steps));
    MemoryRun failed = RunInMemory(direction, input, step);
    Require(failed.result == 0, "a refused piece fails the conversion");
    Require(failed.messages == std::vector<std::string>{kWriteFailed},
            "a refused piece shows the write failure and nothing else");
    Require(failed.outputSteps == step, "nothing is handed on after a refused piece");
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

bool IsUnicodeRefusal(const std::string& message)
{
    return message == "error: The file in.txt is saved as Unicode (UTF-16) and can't be converted byte by byte.\n"
                      "Save it as ANSI text, or have its accented letters converted.";
}

void CheckMacRoundTrip(const std::string& mac)
{
    // A Mac book that starts with a byte order mark is read as the text the mark announces.
    for (const char* mark : {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"}) {
        if (mac.compare(0, strlen(mark), mark) == 0) {
            return;
        }
    }
    MemoryRun w95 = RunInMemory(FERRYLINE_MAC_TO_WIN, mac, 0);
    Require(w95.result == 1 && w95.messages.empty(), "a Mac file written from W95 converts without warnings");
    MemoryRun back = RunInMemory(FERRYLINE_WIN_TO_MAC, w95.output, 0);
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
