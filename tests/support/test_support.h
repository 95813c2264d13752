// Shared helpers for the library's tests: scratch folders, whole-file I/O, captured messages and
// changes, and file operations and an allocator that fail on request.
#ifndef FERRYLINE_TEST_SUPPORT_H
#define FERRYLINE_TEST_SUPPORT_H

#include <string>
#include <vector>

#include "convert/ferryline.h"
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

// The file operations and the allocator, each of whose calls a test can make fail.
enum PlatformCall {
    CALL_NONE,
    CALL_OPEN_INPUT,
    CALL_INPUT_SIZE,
    CALL_READ,
    CALL_CLOSE_INPUT,
    CALL_CREATE_OUTPUT,
    CALL_WRITE,
    CALL_COMMIT,
    CALL_DISCARD,
    CALL_ALLOC,  // a new block or a larger one
    CALL_COUNT
};

// What to do wrong in one conversion: the failCallAt-th call of failCall fails (counts start at 1).
struct FaultPlan {
    PlatformCall failCall;
    int failCallAt;
    bool hugeSize;  // the input's size is one no block can hold
    unsigned refusedSteps;  // the system's own steps (1 << PlatformStep) that fail, as a file system refusing them
    int refusedError;       // with this error
};

FaultPlan FailCall(PlatformCall call, int at);

// A message as the records keep it: its kind ("info: ", "warning: ", "error: ") and its text.
std::string RecordedMessage(FerrylineMessageKind kind, const char* text);

struct PlatformRecord {
    std::vector<std::string> messages;  // "info: text", "warning: text" or "error: text", in order
    std::vector<FerrylineChange> changes;
    std::vector<std::string> changeTexts;  // the text of each change
    std::vector<std::string> changeLines;  // each change as ferryline_describe_change tells it
    int inputsOpen;    // opened and not yet closed
    int outputsOpen;   // created and neither committed nor discarded
    int blocksHeld;    // allocated and not yet freed
    size_t bytesHeld;
    size_t peakBytesHeld;
    int calls[CALL_COUNT];  // how often each operation was called, failed calls included
    std::vector<std::string> reasons;  // "path: error number" for each reason the system gave
    int namedTemporaries;   // temporary files standing under a name now
    std::string keptBackup;  // a backup the system could not put back
};

// One conversion's surroundings for a test: the system's files and allocator wrapped so that they fail
// as planned and count what they hold, and a listener that records what the user would be told.
// It holds pointers to itself: open it where it stays.
struct TestEnv {
    FerrylineFiles files;  // context: this structure
    const FerrylineFiles* parent;
    FerrylineListener listener;
    FerrylineEnv env;
    FaultPlan plan;
    PlatformRecord record;
    // Called as each message arrives, before it is recorded; null for none.
    void (*onMessage)(void* context);
    void* onMessageContext;
    // Called just before an output is committed; null for none.
    void (*beforeCommit)(void* context);
    void* beforeCommitContext;
    PlatformObserver observer;  // what the system's files tell; context: this structure
    FerrylineFiles system;      // the system's files, telling the observer
};

void OpenTestEnv(TestEnv* test, const FaultPlan& plan);

FerrylineStatus ConvertFiles(TestEnv* test, FerrylineDirection direction, const std::string& inputPath, const char* inputTitle,
                 const std::string& outputPath, const char* outputTitle);

// Runs one direction on `input` written to a scratch file and reads back what it produced.
struct ConversionResult {
    int result;  // 1 converted, 0 not
    FerrylineStatus status;
    bool outputExists;
    std::string output;
    std::vector<std::string> messages;
    std::vector<FerrylineChange> changes;  // their text in changeTexts
    std::vector<std::string> changeTexts;
    std::vector<std::string> changeLines;
};
ConversionResult RunConverter(FerrylineDirection direction, const std::string& input);
ConversionResult RunConverterWithFaults(FerrylineDirection direction, const std::string& input, const FaultPlan& plan);

#endif
