/* The library used from C, as the README shows it: a W95 book converted in memory, and the same through
   a writer of C's own that refuses every piece. */
#include <string.h>

#include "convert/ferryline.h"
#include "c_api.h"

int ConvertSampleFromC(char* mac, size_t capacity)
{
    const char w95[] = "&Main #Bob Smith ^bob@example.org &Friends #Ann ^ann@example.org +";
    FerrylineResult result;
    if (ferryline_convert_bytes(FERRYLINE_WIN_TO_MAC, NULL, w95, strlen(w95), "book.cv", NULL, &result) != FERRYLINE_OK ||
        result.outputSize >= capacity) {
        ferryline_result_free(&result);
        return 0;
    }
    memcpy(mac, result.output, result.outputSize);
    mac[result.outputSize] = '\0';
    ferryline_result_free(&result);
    return 1;
}

static FerrylineStatus RefusePiece(void* context, const void* data, size_t size)
{
    (void)context;
    (void)data;
    (void)size;
    return FERRYLINE_NO_MEMORY;
}

FerrylineStatus ConvertIntoRefusingWriterFromC(void)
{
    const char mac[] = "Bob Smith <bob@example.org>\r\n";
    return ferryline_convert(FERRYLINE_MAC_TO_WIN, NULL, mac, strlen(mac), "book.txt", RefusePiece, NULL, NULL, NULL);
}

const char* VersionFromC(void)
{
    return ferryline_version();
}
