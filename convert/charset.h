// The character sets books come in: Mac OS Roman, Windows-1252, Latin-1, UTF-8 and UTF-16, to and from
// Unicode, and the recoding of a book between the editions' sets.
#ifndef FERRYLINE_CHARSET_H
#define FERRYLINE_CHARSET_H

#include <stddef.h>
#include <stdint.h>

#include "convert/ferryline.h"

enum Charset { CHARSET_MAC_ROMAN, CHARSET_WINDOWS_1252, CHARSET_LATIN1, CHARSET_UTF8, CHARSET_UTF16LE, CHARSET_UTF16BE };

// The character an 8-bit set gives `byte`. Windows-1252's five unassigned bytes read as the C1
// controls of the same number, as Windows itself reads them, so that they come back unchanged.
uint32_t DecodeByte(Charset eightBit, unsigned char byte);
// The byte of `character` in an 8-bit set, or -1 when the set has none.
int EncodeCharacter(Charset eightBit, uint32_t character);

const char* CharsetName(Charset charset);

// A UTF-16 text of Latin letters has a zero byte at every other position; this many bytes tell.
const size_t kUtf16Probe = 16;
// Whether `bytes` has a zero at every other position of its first kUtf16Probe, starting at `first`
// (1 for little-endian, 0 for big-endian); a shorter text never has.
bool HasUtf16Zeros(const char* bytes, size_t size, size_t first);

// The set to read `bytes` in: `chosen` when the user named one, else UTF-16 or UTF-8 where the input
// plainly is one, else `eightBit`.
Charset ChooseCharset(const char* bytes, size_t size, FerrylineCharset chosen, Charset eightBit);

// A block of text owned by the caller, from the conversion's allocator.
struct TextBlock {
    char* bytes;
    size_t size;
    size_t capacity;
};
void ReleaseText(TextBlock* text, const FerrylineEnv* env);

// `bytes` in `from` as UTF-8 in a new block, without a byte order mark; what can't be read becomes
// U+FFFD. Returns 0, with nothing held, when the block was refused.
int DecodeToUtf8(const char* bytes, size_t size, Charset from, const FerrylineEnv* env, TextBlock* text);

// Reads one UTF-8 sequence at `p`; a malformed one (overlong, a surrogate, beyond U+10FFFF, cut short)
// reads as U+FFFD one byte long. Returns its length.
size_t ReadUtf8(const unsigned char* p, const unsigned char* end, uint32_t* character);

// `size` bytes in the 8-bit set `from` as UTF-8 at `out`, which has room for three bytes a byte; in any
// other set they are copied as they are. Returns the length written.
size_t DecodeEightBit(const char* bytes, size_t size, Charset from, char* out);

// Writes UTF-8 `text` in the 8-bit set `to` at `out` (room for `size` bytes), '?' for a character the
// set lacks. Returns how many bytes it wrote; `replaced` counts the '?'.
size_t EncodeFromUtf8(const char* text, size_t size, Charset to, char* out, size_t* replaced);

// The Mac book (fromMac) or the W95 book in `bytes`, read in its character set and written in the
// other edition's, ready for the byte converters. Each line or entry that lost a character is told
// as a change. Returns 0 after telling that no memory was left.
int RecodeBook(const char* bytes, size_t size, bool fromMac, FerrylineCharset chosen, const FerrylineEnv* env,
               TextBlock* recoded);

#endif
