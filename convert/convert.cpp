// Conversion in memory: the converters between the caller's bytes and the caller's writer.
#include "convert/book.h"
#include "convert/charset.h"
#include "convert/converters.h"
#include "convert/env.h"
#include "convert/import.h"
#include "convert/scan.h"

#include <stdint.h>

namespace ferryline {

const char kCouldNotWrite[] = "Could not write to output file";
const char kCouldNotAllocateConversion[] = "Could not allocate memory to convert the file";
static const char kReplacedWarning[] =
    "Some of the addresses contained invalid characters (&#^+).\nThese characters were replaced with dashes.";
static const char kLeftOutWarning[] = "Some of the cards or rows had no e-mail address and were left out.";
static const char kNoNameWarning[] =
    "Some of the addresses did not have personal names, which are\nrequired by Corvella for Windows. "
    "These now have \"No Name ##\"\nas their names so you will need to fix them within Corvella.";

static bool ExportsTo(FerrylineDirection direction, FerrylineDirection fromMac, FerrylineDirection fromW95,
                      FerrylineDirection fromEither)
{
    return direction == fromMac || direction == fromW95 || direction == fromEither;
}

// The edition a direction reads, or EITHER.
static FerrylineEdition EditionRead(FerrylineDirection direction)
{
    switch (direction) {
    case FERRYLINE_MAC_TO_WIN:
    case FERRYLINE_MAC_TO_VCARD:
    case FERRYLINE_MAC_TO_CSV:
    case FERRYLINE_MAC_TO_LDIF:
        return FERRYLINE_EDITION_MAC;
    case FERRYLINE_WIN_TO_MAC:
    case FERRYLINE_WIN_TO_VCARD:
    case FERRYLINE_WIN_TO_CSV:
    case FERRYLINE_WIN_TO_LDIF:
        return FERRYLINE_EDITION_W95;
    default:
        return FERRYLINE_EDITION_EITHER;
    }
}

// Reads the book, of the edition the first look told, into its list and writes the list as vCard, CSV or
// LDIF. A refused piece is left to the caller to tell.
static FerrylineStatus Export(FerrylineDirection direction, FerrylineEdition edition, const FerrylineOptions* options,
                              const char* bytes, size_t size, const char* inputTitle, Output* output,
                              const FerrylineEnv* env)
{
    FerrylineBook book;
    FerrylineStatus status = ferryline_read_book(edition, options, bytes, size, inputTitle, env, &book);
    if (status != FERRYLINE_OK) {
        return status;
    }
    int written = 1;
    if (ExportsTo(direction, FERRYLINE_MAC_TO_VCARD, FERRYLINE_WIN_TO_VCARD, FERRYLINE_BOOK_TO_VCARD)) {
        written = WriteVcard(&book, options->vcardVersion == 4 ? 4 : 3, output, env);
    } else if (ExportsTo(direction, FERRYLINE_MAC_TO_LDIF, FERRYLINE_WIN_TO_LDIF, FERRYLINE_BOOK_TO_LDIF)) {
        written = WriteLdif(&book, output, env);
    } else {
        written = WriteCsv(&book, options->csvLayout, output, env);
    }
    ferryline_book_free(&book);
    return written ? FERRYLINE_OK : Fail(env, FERRYLINE_NO_MEMORY, kCouldNotAllocateConversion, nullptr);
}

// Changes name what the input held, in the set the converter read; the listener hears them in UTF-8.
struct ChangeDecoder {
    const FerrylineEnv* env;  // the caller's
    Charset charset;
    // A conversion of bytes as they are decides the input's set at its first change, if it has one.
    bool decided;
    const char* bytes;
    size_t size;
    FerrylineCharset chosen;
    FerrylineEdition edition;
};

static void PassMessageOn(void* context, FerrylineMessageKind kind, const char* text)
{
    const FerrylineListener* listener = static_cast<ChangeDecoder*>(context)->env->listener;
    if (listener->message != nullptr) {
        listener->message(listener->context, kind, text);
    }
}

static void DecodeChange(void* context, const FerrylineChange* change)
{
    ChangeDecoder* decoder = static_cast<ChangeDecoder*>(context);
    const FerrylineListener* listener = decoder->env->listener;
    if (!decoder->decided) {
        FerrylineCharset charset = DecideCharset(decoder->bytes, decoder->size, decoder->chosen, decoder->edition);
        decoder->charset = ChooseCharset(decoder->bytes, decoder->size, charset, CHARSET_UTF8);
        decoder->decided = true;
    }
    // A recoding's own description is UTF-8 already.
    if (decoder->charset == CHARSET_UTF8 || change->kind == FERRYLINE_CHARACTER_REPLACED) {
        listener->change(listener->context, change);
        return;
    }
    const size_t kBytesPerByte = 3;
    size_t size = change->text.size + change->name.size + change->address.size;
    char small[768];
    size_t capacity = size <= sizeof small / kBytesPerByte ? sizeof small : 0;
    char* block = capacity > 0 || size > SIZE_MAX / kBytesPerByte ? nullptr
                                                                   : static_cast<char*>(Allocate(decoder->env, size * kBytesPerByte));
    char* out = capacity > 0 ? small : block;
    if (out == nullptr) {
        listener->change(listener->context, change);  // its bytes above 127 are then shown as escapes
        return;
    }
    FerrylineChange decoded = *change;
    FerrylineText* texts[] = {&decoded.text, &decoded.name, &decoded.address};
    for (FerrylineText* text : texts) {
        if (text->bytes != nullptr) {
            size_t length = DecodeEightBit(text->bytes, text->size, decoder->charset, out);
            *text = FerrylineText{out, length};
            out += length;
        }
    }
    listener->change(listener->context, &decoded);
    Release(decoder->env, block, size * kBytesPerByte);
}

static const char kUnicodeText[] =
    "The file %s is saved as Unicode (UTF-16) and can't be converted byte by byte.\n"
    "Save it as ANSI text, or have its accented letters converted.";
static const char kW95GivenAsMac[] = "The file %s is a Corvella W95 address book, not a Macintosh one.";
static const char kMacGivenAsW95[] = "The file %s is a Macintosh address book, not a Corvella W95 one.";

FerrylineStatus ConvertInto(FerrylineDirection direction, const FerrylineOptions* options, const char* bytes, size_t size,
                            const char* inputTitle, Output* output, const FerrylineEnv* env, unsigned* warnings,
                            FerrylineLook* lookOut)
{
    static const FerrylineOptions kDefaults = {};
    options = options != nullptr ? options : &kDefaults;
    *warnings = 0;
    bool converting = direction == FERRYLINE_MAC_TO_WIN || direction == FERRYLINE_WIN_TO_MAC;
    // Converting bytes as they are, the converters count the bytes above 127 as they classify them, at
    // next to no cost; a pass of its own over a large input took a tenth of the conversion's time.
    bool countWhileConverting = lookOut != nullptr && converting && options->recode == 0;
    // Converting bytes as they are, the input's character set matters only to the changes' texts.
    bool decideLater = converting && options->recode == 0;
    FerrylineLook look;
    LookAt(bytes, size, options->charset, lookOut != nullptr && !countWhileConverting, !decideLater, &look);
    // The wrong edition is refused, unless forced; a W95 book read as a Mac one would be one entry.
    FerrylineEdition edition = EditionRead(direction);
    bool wrongEdition = edition != FERRYLINE_EDITION_EITHER && edition != look.edition && !options->force &&
                        direction != FERRYLINE_WIN_TO_MAC;  // that one reads the stream and says what is wrong
    // UTF-16 can't be converted byte by byte; recoding and the exports decode it.
    const FerrylineStatus refusal = wrongEdition ? FERRYLINE_WRONG_EDITION
                                    : converting && options->recode == 0 && StoredAsUtf16(bytes, size)
                                        ? FERRYLINE_UTF16_REFUSED
                                        : FERRYLINE_OK;
    if (refusal != FERRYLINE_OK && countWhileConverting) {
        look.bytesAbove127 = CountHighBytes(bytes, size);
    }
    if (lookOut != nullptr) {
        *lookOut = look;
        if (refusal != FERRYLINE_OK && look.charset == FERRYLINE_CHARSET_AUTO) {
            lookOut->charset = DecideCharset(bytes, size, options->charset, look.edition);
        }
    }
    if (refusal == FERRYLINE_UTF16_REFUSED) {
        return Fail(env, refusal, kUnicodeText, inputTitle);
    }
    if (refusal == FERRYLINE_WRONG_EDITION) {
        return Fail(env, refusal, look.edition == FERRYLINE_EDITION_W95 ? kW95GivenAsMac : kMacGivenAsW95, inputTitle);
    }
    // From here on, changes are heard in UTF-8: the converters see the input's bytes, or the recoded
    // ones in the other edition's set; the exports read it decoded.
    ChangeDecoder decoder = {env, CHARSET_UTF8, !decideLater, bytes, size, options->charset, look.edition};
    if (converting && options->recode != 0) {
        decoder.charset = direction == FERRYLINE_MAC_TO_WIN ? CHARSET_WINDOWS_1252 : CHARSET_MAC_ROMAN;
    }
    FerrylineListener decoding = {&decoder, PassMessageOn, DecodeChange};
    FerrylineEnv decodingEnv = {env->alloc, env->allocContext, &decoding};
    if (env->listener != nullptr && env->listener->change != nullptr) {
        env = &decodingEnv;
    }
    TextBlock recoded = {nullptr, 0, 0};
    size_t skippedHighBytes = 0;
    if (converting && options->recode != 0) {
        if (!RecodeBook(bytes, size, direction == FERRYLINE_MAC_TO_WIN, options->charset, env, &recoded)) {
            return Fail(env, FERRYLINE_NO_MEMORY, kCouldNotAllocateConversion, nullptr);
        }
        bytes = recoded.bytes;
        size = recoded.size;
    } else if (converting && look.byteOrderMark == FERRYLINE_UTF8_BOM) {
        bytes += kUtf8BomSize;  // the mark says how the text is stored; it is not part of the book
        size -= kUtf8BomSize;
        skippedHighBytes = kUtf8BomSize;  // but its bytes are above 127 all the same
    }
    size_t convertedHighBytes = 0;
    size_t* counting = countWhileConverting ? &convertedHighBytes : nullptr;
    // The converters fail only by a refused piece, or (a W95 book) by its content, told already.
    FerrylineStatus status = FERRYLINE_OK;
    if (IsImport(direction)) {
        status = Import(direction, options, bytes, size, inputTitle, output, env, warnings);
    } else if (!converting) {
        status = Export(direction, edition == FERRYLINE_EDITION_EITHER ? look.edition : edition, options, bytes, size,
                        inputTitle, output, env);
    } else if (direction == FERRYLINE_MAC_TO_WIN) {
        WriteW95FromMac(bytes, size, output, env, warnings, counting);
    } else if (!WriteMacFromW95(bytes, size, inputTitle, output, env, counting) && output->status == FERRYLINE_OK) {
        status = FERRYLINE_NOT_A_BOOK;
    }
    if (countWhileConverting) {
        lookOut->bytesAbove127 = skippedHighBytes + convertedHighBytes;
    }
    // Without a byte above 127 a book is plainly in its edition's 8-bit set, as the pass would find.
    if (lookOut != nullptr && decideLater) {
        lookOut->charset = options->charset != FERRYLINE_CHARSET_AUTO || lookOut->bytesAbove127 > 0
                               ? DecideCharset(decoder.bytes, decoder.size, options->charset, look.edition)
                               : DecideCharset("", 0, FERRYLINE_CHARSET_AUTO, look.edition);
    }
    ReleaseText(&recoded, env);
    if (status == FERRYLINE_OK && FlushOutput(output) == FERRYLINE_OK) {
        return FERRYLINE_OK;
    }
    // A refused piece is told here: no memory to keep it, or any other refusal as a failed write.
    switch (output->status) {
    case FERRYLINE_OK:
        return status;
    case FERRYLINE_NO_MEMORY:
        return Fail(env, FERRYLINE_NO_MEMORY, kCouldNotAllocateConversion, nullptr);
    default:
        return Fail(env, FERRYLINE_COULD_NOT_WRITE, kCouldNotWrite, nullptr);
    }
}

void TellWarnings(const FerrylineEnv* env, unsigned warnings)
{
    if ((warnings & WARNING_RESERVED_REPLACED) != 0) {
        Tell(env, FERRYLINE_WARNING, kReplacedWarning, nullptr);
    }
    if ((warnings & WARNING_PLACEHOLDER_NAMES) != 0) {
        Tell(env, FERRYLINE_WARNING, kNoNameWarning, nullptr);
    }
    if ((warnings & WARNING_LEFT_OUT) != 0) {
        Tell(env, FERRYLINE_WARNING, kLeftOutWarning, nullptr);
    }
}

extern "C" FerrylineStatus ferryline_convert(FerrylineDirection direction, const FerrylineOptions* options, const void* input,
                                             size_t size, const char* inputTitle, FerrylineWriter write, void* writeContext,
                                             const FerrylineEnv* env, FerrylineLook* look)
{
    env = UsableEnv(env);
    Output output;
    if (!OpenOutput(&output, write, writeContext, size, env)) {
        return Fail(env, FERRYLINE_NO_MEMORY, kCouldNotAllocateConversion, nullptr);
    }
    unsigned warnings = 0;
    FerrylineStatus status = ConvertInto(direction, options, static_cast<const char*>(input), size, inputTitle, &output,
                                         env, &warnings, look);
    CloseOutput(&output, env);
    if (status == FERRYLINE_OK) {
        TellWarnings(env, warnings);
    }
    return status;
}

extern "C" const char* ferryline_version(void)
{
    return FERRYLINE_VERSION;
}

}  // namespace ferryline
