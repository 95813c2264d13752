// The operating system beneath the library: its files and memory (ferryline_system_files and
// ferryline_system_alloc in convert/ferryline.h), and what the front ends need besides.
#ifndef FERRYLINE_PLATFORM_H
#define FERRYLINE_PLATFORM_H

#include "convert/ferryline.h"

// Whether two paths name the same file, however spelled: 1 same, 0 different.
int PlatformSameFile(const char* pathA, const char* pathB);

// Whether `c` separates the folders of a path ('/'; on Windows also '\\' and ':').
bool PlatformIsPathSeparator(char c);

// The name of the file without its folders, as messages name a file: "book.txt" for "a/b/book.txt".
const char* PlatformFileTitle(const char* path);

// Makes standard input and output carry bytes unchanged, and a refused write (a closed pipe, a file
// size limit) a failed write rather than the end of the process.
void PlatformPrepareStandardStreams();

#endif
