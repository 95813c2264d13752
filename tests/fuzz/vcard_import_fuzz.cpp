// Any bytes as a vCard file, imported into both editions.
#include <stddef.h>
#include <stdint.h>

#include "fuzz/import_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const char* const kRefusals[] = {"is not a vCard file"};
    CheckImport(FERRYLINE_VCARD_TO_MAC, FERRYLINE_VCARD_TO_WIN, std::string(reinterpret_cast<const char*>(data), size), kRefusals, 1);
    return 0;
}
