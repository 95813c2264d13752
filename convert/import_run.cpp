// The import directions: a vCard or CSV file read into the neutral list and written as a book of
// either edition.
#include "convert/converters.h"
#include "convert/env.h"
#include "convert/import.h"

bool IsImport(FerrylineDirection direction)
{
    return direction == FERRYLINE_VCARD_TO_MAC || direction == FERRYLINE_VCARD_TO_WIN || direction == FERRYLINE_CSV_TO_MAC ||
           direction == FERRYLINE_CSV_TO_WIN;
}

FerrylineStatus Import(FerrylineDirection direction, const FerrylineOptions* options, const char* bytes, size_t size,
                       const char* inputTitle, Output* output, const FerrylineEnv* env, unsigned* warnings)
{
    bool vcard = direction == FERRYLINE_VCARD_TO_MAC || direction == FERRYLINE_VCARD_TO_WIN;
    FerrylineEdition edition = direction == FERRYLINE_VCARD_TO_MAC || direction == FERRYLINE_CSV_TO_MAC ? FERRYLINE_EDITION_MAC
                                                                                                       : FERRYLINE_EDITION_W95;
    // Both formats are read as UTF-8: a file plainly in UTF-8 or UTF-16 as that, else in the set chosen.
    TextBlock text;
    if (!DecodeToUtf8(bytes, size, ChooseCharset(bytes, size, options->charset, CHARSET_WINDOWS_1252), env, &text)) {
        return Fail(env, FERRYLINE_NO_MEMORY, kCouldNotAllocateConversion, nullptr);
    }
    Importer importer;
    StartImport(&importer, env);
    int read = vcard ? ReadVcardFile(text.bytes, text.size, inputTitle, &importer) : ReadCsvFile(text.bytes, text.size, inputTitle, &importer);
    ReleaseText(&text, env);
    ImportedBook book;
    int finished = read && FinishImport(&importer, &book);
    // A file refused for its content has been told; refused memory is told here.
    FerrylineStatus status = finished ? FERRYLINE_OK : read || importer.failed ? FERRYLINE_NO_MEMORY : FERRYLINE_NOT_A_BOOK;
    if (status == FERRYLINE_NO_MEMORY) {
        Tell(env, FERRYLINE_ERROR, kCouldNotAllocateConversion, nullptr);
    }
    *warnings |= importer.leftOut > 0 ? WARNING_LEFT_OUT : 0;
    EndImport(&importer);
    if (!finished) {
        return status;
    }
    int written = WriteEditionBook(&book.book, book.lines, edition, output, env, warnings);
    FreeImportedBook(&book, env);
    // A refused piece is left to the caller to tell.
    return written ? FERRYLINE_OK : Fail(env, FERRYLINE_NO_MEMORY, kCouldNotAllocateConversion, nullptr);
}
