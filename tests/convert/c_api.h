/* A conversion written in C, called from the C++ tests. */
#ifndef FERRYLINE_TEST_C_API_H
#define FERRYLINE_TEST_C_API_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Converts a small W95 book to Mac lines into `mac`; 1 on success. */
int ConvertSampleFromC(char* mac, size_t capacity);

#ifdef __cplusplus
}
#endif

#endif
