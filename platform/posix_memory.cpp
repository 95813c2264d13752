// Memory on POSIX systems: the allocator the library is given, which refuses a block the process could
// not hold rather than let the system end the process for taking it.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/platform.h"

// A block that grows by less than this is not weighed against the memory left: checking costs a few
// reads of small system files, and so little memory is not what ends a process.
static const uint64_t kWeighedGrowth = 16u << 20;
// Kept free beside the block for the rest of the conversion (its output's pieces, the program itself).
static const uint64_t kSpare = 48u << 20;
static const uint64_t kUnknown = UINT64_MAX;

// The first number in the file `path` after `key` (a line "key value"), or kUnknown; a file holding
// "max" reads as kUnknown too.
static uint64_t NumberIn(const char* path, const char* key)
{
    FILE* file = fopen(path, "r");
    if (file == nullptr) {
        return kUnknown;
    }
    uint64_t found = kUnknown;
    char line[256];
    size_t keyLength = strlen(key);
    while (found == kUnknown && fgets(line, sizeof line, file) != nullptr) {
        const char* value = line + keyLength + strspn(line + keyLength, " \t");
        if (strncmp(line, key, keyLength) == 0 && *value >= '0' && *value <= '9') {
            found = static_cast<uint64_t>(strtoull(value, nullptr, 10));
        }
    }
    fclose(file);
    return found;
}

static uint64_t Smaller(uint64_t a, uint64_t b)
{
    return a < b ? a : b;
}

// Limit less use, never below 0; kUnknown where either is unknown.
static uint64_t Left(uint64_t limit, uint64_t used)
{
    if (limit == kUnknown || used == kUnknown) {
        return kUnknown;
    }
    return limit > used ? limit - used : 0;
}

// What one memory cgroup folder leaves: its limit less its use, the file cache it could drop not
// counted as use. `names` are the limit, use and statistics files and the dropped cache's key there.
struct CgroupFiles {
    const char* limit;
    const char* usage;
    const char* cacheKey;
};
static const CgroupFiles kCgroupV2 = {"memory.max", "memory.current", "inactive_file "};
static const CgroupFiles kCgroupV1 = {"memory.limit_in_bytes", "memory.usage_in_bytes", "total_inactive_file "};

static uint64_t LeftInCgroup(const char* folder, const CgroupFiles& files)
{
    char path[4096];
    snprintf(path, sizeof path, "%s/%s", folder, files.limit);
    uint64_t limit = NumberIn(path, "");
    snprintf(path, sizeof path, "%s/%s", folder, files.usage);
    uint64_t used = NumberIn(path, "");
    snprintf(path, sizeof path, "%s/memory.stat", folder);
    uint64_t cache = NumberIn(path, files.cacheKey);
    if (used != kUnknown && cache != kUnknown) {
        used = used > cache ? used - cache : 0;
    }
    return Left(limit, used);
}

// What the memory cgroup the process is in, and each one above it, leaves: the least of them.
// `root` is where the hierarchy is mounted, `group` the process's place in it ("/a/b").
static uint64_t LeftInCgroups(const char* root, const char* group, const CgroupFiles& files)
{
    char folder[4096];
    if (snprintf(folder, sizeof folder, "%s%s", root, group) >= static_cast<int>(sizeof folder)) {
        return kUnknown;
    }
    size_t rootLength = strlen(root);
    uint64_t left = kUnknown;
    for (;;) {
        left = Smaller(left, LeftInCgroup(folder, files));
        char* slash = strrchr(folder + rootLength, '/');
        if (slash == nullptr) {
            return left;
        }
        *slash = '\0';
    }
}

// The cgroups of /proc/self/cgroup: "0::/path" in the unified hierarchy (mounted at /sys/fs/cgroup,
// or at /sys/fs/cgroup/unified beside the older ones), "N:memory:/path" (among other controllers) in
// the older memory hierarchy.
static uint64_t LeftInOwnCgroups()
{
    FILE* file = fopen("/proc/self/cgroup", "r");
    if (file == nullptr) {
        return kUnknown;
    }
    uint64_t left = kUnknown;
    char line[4096];
    while (fgets(line, sizeof line, file) != nullptr) {
        line[strcspn(line, "\n")] = '\0';
        char* controllers = strchr(line, ':');
        char* group = controllers != nullptr ? strchr(controllers + 1, ':') : nullptr;
        if (group == nullptr) {
            continue;
        }
        *group++ = '\0';
        ++controllers;
        const char* trimmed = strcmp(group, "/") == 0 ? "" : group;
        if (*controllers == '\0') {
            left = Smaller(left, LeftInCgroups("/sys/fs/cgroup", trimmed, kCgroupV2));
            left = Smaller(left, LeftInCgroups("/sys/fs/cgroup/unified", trimmed, kCgroupV2));
            continue;
        }
        for (char* name = strtok(controllers, ","); name != nullptr; name = strtok(nullptr, ",")) {
            if (strcmp(name, "memory") == 0) {
                left = Smaller(left, LeftInCgroups("/sys/fs/cgroup/memory", trimmed, kCgroupV1));
            }
        }
    }
    fclose(file);
    return left;
}

// The address space the process may still take: its limit less what it uses, exactly what the
// system weighs a larger block against; kUnknown without a limit. Where the system does not tell the
// use (no /proc), the block is weighed against the limit alone.
static uint64_t AddressSpaceLeft()
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return kUnknown;
    }
    uint64_t pages = NumberIn("/proc/self/statm", "");
    long pageSize = sysconf(_SC_PAGESIZE);
    uint64_t used = pages != kUnknown && pageSize > 0 ? pages * static_cast<uint64_t>(pageSize) : 0;
    return Left(static_cast<uint64_t>(limit.rlim_cur), used);
}

// The memory the process may still fill, by the tightest of what is known: what its memory cgroups
// leave, and the memory (and swap) the system says is available; kUnknown where nothing tells.
static uint64_t MemoryLeft()
{
    uint64_t left = LeftInOwnCgroups();
    uint64_t available = NumberIn("/proc/meminfo", "MemAvailable:");
    uint64_t swap = NumberIn("/proc/meminfo", "SwapFree:");
    if (available != kUnknown) {
        // Both in kB.
        left = Smaller(left, (available + (swap != kUnknown ? swap : 0)) * 1024);
    }
    return left;
}

// Whether growing a block by `growth` bytes leaves the process the memory it needs: a block that
// would outgrow it is refused, and the conversion says so, rather than the system ending the process
// (a cgroup's limit) or running short for everyone. Filling memory needs room for the rest of the
// conversion besides; address space is only reserved, and its limit is what malloc meets anyway.
static bool MayGrowBy(uint64_t growth)
{
    if (growth < kWeighedGrowth) {
        return true;
    }
    uint64_t space = AddressSpaceLeft();
    uint64_t memory = MemoryLeft();
    return (space == kUnknown || growth <= space) && (memory == kUnknown || (memory > kSpare && growth <= memory - kSpare));
}

// The input block is fresh memory that the read would fault in page by page, and on a virtual
// machine each fault and each TLB miss costs more than the bytes read. So a large block is asked
// for huge pages, and any block of more than a few pages is made resident in one call first.
static const size_t kPopulateSize = 256 * 1024;
#ifdef MADV_HUGEPAGE
static const size_t kHugePageSize = 4 * 1024 * 1024;
#endif

static void AdviseBlock(void* block, size_t bytes)
{
    // Only whole pages inside the block, past the allocator's own header, are advised.
    long pageSize = sysconf(_SC_PAGESIZE);
    uintptr_t page = pageSize > 0 ? static_cast<uintptr_t>(pageSize) : 4096;
    uintptr_t start = reinterpret_cast<uintptr_t>(block);
    uintptr_t first = (start + page - 1) / page * page;
    uintptr_t end = (start + bytes) / page * page;
    if (end <= first) {
        return;
    }
    [[maybe_unused]] void* pages = reinterpret_cast<void*>(first);
    [[maybe_unused]] size_t length = end - first;
    // Both are hints: where the system refuses one, the block works the same, more slowly.
#ifdef MADV_HUGEPAGE
    if (bytes >= kHugePageSize) {
        madvise(pages, length, MADV_HUGEPAGE);
    }
#endif
#ifdef MADV_POPULATE_WRITE
    madvise(pages, length, MADV_POPULATE_WRITE);
#endif
}

void* ferryline_system_alloc(void*, void* block, size_t oldSize, size_t newSize)
{
    if (newSize == 0) {
        free(block);
        return nullptr;
    }
    if (newSize > oldSize && !MayGrowBy(newSize - oldSize)) {
        return nullptr;
    }
    void* grown = realloc(block, newSize);
    if (grown != nullptr && newSize >= kPopulateSize && newSize > oldSize) {
        AdviseBlock(grown, newSize);
    }
    return grown;
}
