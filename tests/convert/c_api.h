/* A conversion written in C, called from the C++ tests. */
#ifndef FERRYLINE_TEST_C_API_H
#define FERRYLINE_TEST_C_API_H

#include <stddef.h>

#include "convert/ferryline.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Converts a small W95 book to Mac lines into `mac`; 1 on success. */
int ConvertSampleFromC(char* mac, size_t capacity);
/* Converts a Mac book to a writer that refuses every piece for want of memory; what it returns. */
FerrylineStatus ConvertIntoRefusingWriterFromC(void);
/* ferryline_version(), called from C. */
const char* VersionFromC(void);

#ifdef __cplusplus
}
#endif

#endif
