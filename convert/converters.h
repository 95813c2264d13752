// The two converters and what runs them, shared by the in-memory and the file interfaces.
#ifndef FERRYLINE_CONVERTERS_H
#define FERRYLINE_CONVERTERS_H

#include <stddef.h>

#include "convert/ferryline.h"
#include "convert/output.h"

// Warnings a conversion gathers, told only once its output is complete.
enum ConversionWarning { WARNING_RESERVED_REPLACED = 1, WARNING_PLACEHOLDER_NAMES = 2, WARNING_LEFT_OUT = 4 };

// Writes the W95 book for the Mac book in `bytes`. Returns 0 when the output refused a piece. Not null,
// `highBytes` is given the count of bytes above 127 in `bytes`, taken as they were classified.
int WriteW95FromMac(const char* bytes, size_t size, Output* output, const FerrylineEnv* env, unsigned* warnings,
                    size_t* highBytes);

// Writes the Mac book for the W95 book in `bytes`. Returns 0 when the output refused a piece, or after
// telling that the input is not a complete W95 book. `highBytes` as for WriteW95FromMac.
int WriteMacFromW95(const char* bytes, size_t size, const char* inputTitle, Output* output, const FerrylineEnv* env,
                    size_t* highBytes);

// The first look at an input, read in `chosen`; `countHighBytes` false leaves bytesAbove127 at 0, and
// `decideCharset` false leaves the charset AUTO, both at no cost (see DecideCharset).
void LookAt(const char* bytes, size_t size, FerrylineCharset chosen, bool countHighBytes, bool decideCharset,
            FerrylineLook* look);

// The set a book of `edition` is read in: `chosen`, or as AUTO finds it.
FerrylineCharset DecideCharset(const char* bytes, size_t size, FerrylineCharset chosen, FerrylineEdition edition);

const size_t kUtf8BomSize = 3;

// Whether the bytes are UTF-16, by a byte order mark or by the zeros of its Latin letters.
bool StoredAsUtf16(const char* bytes, size_t size);

inline bool IsUtf16(FerrylineCharset charset)
{
    return charset == FERRYLINE_CHARSET_UTF16LE || charset == FERRYLINE_CHARSET_UTF16BE;
}

// Converts `bytes` into `output`, flushed at the end, and tells a refused piece. Returns FERRYLINE_OK when
// the whole output was handed on; `warnings` is then what to tell with TellWarnings.
// `look`, when not null, is given the first look at the input.
FerrylineStatus ConvertInto(FerrylineDirection direction, const FerrylineOptions* options, const char* bytes, size_t size,
                            const char* inputTitle, Output* output, const FerrylineEnv* env, unsigned* warnings,
                            FerrylineLook* look);

void TellWarnings(const FerrylineEnv* env, unsigned warnings);

// Whether the direction reads a vCard or CSV file into a book of either edition.
bool IsImport(FerrylineDirection direction);
// Reads the vCard or CSV file in `bytes` and writes it as a book of the direction's edition.
FerrylineStatus Import(FerrylineDirection direction, const FerrylineOptions* options, const char* bytes, size_t size,
                       const char* inputTitle, Output* output, const FerrylineEnv* env, unsigned* warnings);

// Told when no block can be had for the output or for what the writer keeps.
extern const char kCouldNotAllocateConversion[];
// Told when a W95 input does not end in '+'.
extern const char kNotAnAddressBook[];
// Told when the output refused a piece, or could not be finished.
extern const char kCouldNotWrite[];

#endif
