// Shared helpers for the core's tests: scratch folders, whole-file I/O, captured messages, and
// platform operations that fail on request.
#ifndef FERRYLINE_TEST_SUPPORT_H
#define FERRYLINE_TEST_SUPPORT_H

#include <string>
#include <vector>

#include "platform/platform.h"

// A fresh folder for one test, removed with everything in it at the end.
struct ScratchFolder {
    std::string path;
};
ScratchFolder MakeScratchFolder();
void RemoveScratchFolder(const ScratchFolder& folder);
std::string PathIn(const ScratchFolder& folder, const std::string& name);
std::vector<std::string> ListFolder(const ScratchFolder& folder);

void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);
bool FileExists(const std::string& path);

// The platform operations that can fail, for failing any one call of any of them.
enum PlatformCall {
    CALL_NONE,
    CALL_OPEN_READ,
    CALL_FILE_SIZE,
    CALL_READ,
    CALL_CLOSE,
    CALL_PROBE_WRITABLE,
    CALL_CREATE_TEMP,
    CALL_WRITE,
    CALL_DELETE,
    CALL_REPLACE,
    CALL_ALLOC,
    CALL_COUNT
};

// What the platform saw and what it is told to do wrong, for one test. Counts start at 1: failWriteAt 3
// fails the third write. Zero means never.
struct FaultPlan {
    bool failOpen;
    bool failSize;
    bool failAlloc;
    bool failRead;
    bool failProbe;
    bool failCreate;
    int failWriteAt;
    int shortWriteAt;
    bool failClose;    // closing the output
    bool failReplace;
    bool hugeSize;     // report a size no buffer can hold
    PlatformCall failCall;  // this operation fails at its failCallAt-th call
    int failCallAt;
    bool shortCall;    // with CALL_WRITE, that write takes all but one byte and reports success
};

struct PlatformRecord {
    std::vector<std::string> messages;  // "info: text" or "error: text", in order
    int writes;
    int opens;         // files opened or created
    int closes;
    int allocations;
    int frees;
    int calls[CALL_COUNT];  // how often each operation was called, failed calls included
};

// Installs wrappers around the platform's own operations; RestorePlatform puts them back.
void InstallTestPlatform(const FaultPlan& plan);
void RestorePlatform();
const PlatformRecord& Recorded();

// Runs one converter on `input` written to a scratch file and reads back what it produced.
struct ConversionResult {
    int result;
    bool outputExists;
    std::string output;
    std::vector<std::string> messages;
};
typedef int (*Converter)(const char*, const char*, const char*, const char*);
ConversionResult RunConverter(Converter convert, const std::string& input);
ConversionResult RunConverterWithFaults(Converter convert, const std::string& input, const FaultPlan& plan);

#endif
