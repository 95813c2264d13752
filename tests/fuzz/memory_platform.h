// Files, memory and messages kept in memory, installed into the platform table so that the fuzz
// targets run both converters on any input without touching the disk, and can fail an output step.
#ifndef FERRYLINE_MEMORY_PLATFORM_H
#define FERRYLINE_MEMORY_PLATFORM_H

#include <stddef.h>
#include <string>
#include <vector>

// What the in-memory platform saw since the last reset.
struct MemoryRecord {
    std::vector<std::string> messages;  // "info: text" or "error: text", in order
    int opens;          // files opened for reading or created
    int closes;
    int allocations;
    int frees;
    int outputSteps;    // writes, closes of an output and final moves, the steps that can fail
};

// Installs the in-memory operations into g_platform, every one of them.
void InstallMemoryPlatform();

// Forgets every file and count. `failOutputStep` makes that output step (1 = the first write) fail;
// zero means none fails.
void ResetMemoryPlatform(int failOutputStep);

void PutMemoryFile(const std::string& path, const std::string& bytes);
// Returns false when no file has that name.
bool GetMemoryFile(const std::string& path, std::string* bytes);
size_t MemoryFileCount();
const MemoryRecord& MemoryRecorded();

#endif
