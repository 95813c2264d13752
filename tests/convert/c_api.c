/* The library used from C, as the README shows it: a W95 book converted in memory. */
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
