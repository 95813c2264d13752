/* Ferryline: converts Corvella address books between the Macintosh edition's text file and the
   Windows edition's W95 stream. Bytes to bytes in memory, or a file to a file; usable from C.

   Nothing here keeps state between calls: whatever a conversion needs (memory, files, someone to tell)
   is passed in, so conversions may run at the same time on different threads. */
#ifndef FERRYLINE_H
#define FERRYLINE_H

/* The library's version, the one place it is written: the programs, the packages and the Windows
   program's version resource take it from here. */
#define FERRYLINE_VERSION_MAJOR 1
#define FERRYLINE_VERSION_MINOR 1
#define FERRYLINE_VERSION "1.1"

/* A resource compiler reads only the version above. */
#ifndef RC_INVOKED

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The version of the library linked, FERRYLINE_VERSION as it was built. */
const char* ferryline_version(void);

typedef enum FerrylineDirection {
    FERRYLINE_WIN_TO_MAC = 0, /* a W95 book to a Mac one */
    FERRYLINE_MAC_TO_WIN = 1, /* a Mac book to a W95 one */
    /* Exports, in UTF-8: vCard (3.0, or 4.0 by option) and CSV. The MAC and WIN ones refuse a book of
       the other edition, as MAC_TO_WIN does; the BOOK ones read either, as the first look tells it. */
    FERRYLINE_MAC_TO_VCARD = 2,
    FERRYLINE_WIN_TO_VCARD = 3,
    FERRYLINE_MAC_TO_CSV = 4,
    FERRYLINE_WIN_TO_CSV = 5,
    FERRYLINE_BOOK_TO_VCARD = 6,
    FERRYLINE_BOOK_TO_CSV = 7,
    /* Imports: a vCard (2.1, 3.0, 4.0) or CSV (Google's, Outlook's or Ferryline's own layout) file
       written as a book of either edition, in its character set. */
    FERRYLINE_VCARD_TO_MAC = 8,
    FERRYLINE_VCARD_TO_WIN = 9,
    FERRYLINE_CSV_TO_MAC = 10,
    FERRYLINE_CSV_TO_WIN = 11,
    /* Exports to LDIF (UTF-8) for Thunderbird's address book: a person entry for each name, a mailing
       list for each group. */
    FERRYLINE_MAC_TO_LDIF = 12,
    FERRYLINE_WIN_TO_LDIF = 13,
    FERRYLINE_BOOK_TO_LDIF = 14 /* either edition, as the first look tells it */
} FerrylineDirection;

/* What a message is: news (a conversion's outcome), a failure, or a warning about the content that did
   not stop the conversion. */
typedef enum FerrylineMessageKind { FERRYLINE_INFO, FERRYLINE_ERROR, FERRYLINE_WARNING } FerrylineMessageKind;

/* What became of a call. FERRYLINE_OK is 0 and every failure is not, so `if (status)` reads "if it
   failed"; a failure has been told to the listener already, in the words a user is shown. */
typedef enum FerrylineStatus {
    FERRYLINE_OK = 0,
    FERRYLINE_WRONG_EDITION = 1,  /* the other edition's book, refused (FerrylineOptions.force takes it) */
    FERRYLINE_NOT_A_BOOK = 2,     /* not an address book of its edition, or a damaged one */
    FERRYLINE_UTF16_REFUSED = 3,  /* a text saved as UTF-16, which can't be converted byte by byte */
    FERRYLINE_COULD_NOT_OPEN = 4, /* the input */
    FERRYLINE_COULD_NOT_READ = 5,
    FERRYLINE_COULD_NOT_CREATE = 6, /* the output */
    FERRYLINE_COULD_NOT_WRITE = 7,  /* a piece of the output refused, or the output not finished */
    FERRYLINE_NO_MEMORY = 8,
    FERRYLINE_SAME_FILE = 9         /* the output named is the input */
} FerrylineStatus;

/* A run of bytes that need not end in a zero byte. */
typedef struct FerrylineText {
    const char* bytes;
    size_t size;
} FerrylineText;

/* `name` and `address` are what the input holds, in UTF-8; what was written is the same with every
   & # ^ + as '-'. A group line's address is GROUP@GROUP. */
typedef enum FerrylineChangeKind {
    FERRYLINE_PLACEHOLDER_NAME,  /* a Mac line without a name; `text` is the name it was given, `address`
                                    the line */
    FERRYLINE_RESERVED_REPLACED, /* a Mac line whose reserved characters became dashes; `name` (a
                                    placeholder name for a nameless line) and `address` */
    FERRYLINE_DROPPED_ENTRY,     /* a W95 entry without an address, left out; `text` is its name */
    FERRYLINE_MAIN_GROUP_MARKED, /* a Mac group named "Main", written as a second "&Main": converted
                                    back, its entries join the group before it, `text` (null bytes: the
                                    default group) */
    FERRYLINE_MAIN_GROUP_FOLDED, /* a W95 group named "Main" after the first group: it gets no Mac line, so
                                    its entries join the group before it, `text`; `line` counts the
                                    entries before it */
    FERRYLINE_CHARACTER_REPLACED, /* characters the target can't hold became '?'; `text` is the whole
                                    description, naming the line or entry and its text in UTF-8 */
    FERRYLINE_FORMULA_GUARDED,   /* a CSV cell that a spreadsheet would take for a formula (it began with
                                    = + - @, a tab or a CR) was written after a "'"; `text` is the book's
                                    text that begins the cell, `name` and `address` the person's, `line`
                                    the row of the CSV (the header is row 1) */
    FERRYLINE_IMPORT_NOTE,       /* an import left out or changed something (a card without an address,
                                    a member not found); `text` is the whole description, naming the
                                    input line, in UTF-8 */
    /* The exports' own, with the entry's `name` and `address` in UTF-8; `text` is what `line` counts,
       "line" (a Mac book) or "entry" (a W95 one). */
    FERRYLINE_NAMED_BY_ADDRESS,  /* an entry without a name, its contact named by its address */
    FERRYLINE_ENTRIES_JOINED,    /* a person listed more than once: one contact in all its groups */
    FERRYLINE_CONTROL_REPLACED   /* control characters, which a vCard value can't hold, became spaces */
} FerrylineChangeKind;

/* One change a user may want to fix by hand. `line` is the 1-based line of a Mac input, or the
   1-based entry number of a W95 input. The texts live only as long as the call that reports them. */
typedef struct FerrylineChange {
    FerrylineChangeKind kind;
    uint64_t line;
    FerrylineText text;
    FerrylineText name;
    FerrylineText address;
} FerrylineChange;

/* The two editions of an address book. */
typedef enum FerrylineEdition {
    FERRYLINE_EDITION_MAC = 0,
    FERRYLINE_EDITION_W95 = 1,
    FERRYLINE_EDITION_EITHER = 2 /* for ferryline_read_book: the edition the first look tells */
} FerrylineEdition;

typedef enum FerrylineByteOrderMark {
    FERRYLINE_NO_BOM,
    FERRYLINE_UTF8_BOM,
    FERRYLINE_UTF16LE_BOM,
    FERRYLINE_UTF16BE_BOM
} FerrylineByteOrderMark;

/* What the bytes above 127 of a book look like. */
typedef enum FerrylineBytesLookLike {
    FERRYLINE_LOOKS_ASCII,          /* there are none */
    FERRYLINE_LOOKS_UTF8,
    FERRYLINE_LOOKS_MAC_ROMAN,
    FERRYLINE_LOOKS_WINDOWS_1252
} FerrylineBytesLookLike;

/* The character set a book is read in. AUTO: UTF-8 or UTF-16 where the input plainly is one (a byte
   order mark, UTF-16's zero bytes, or valid UTF-8 beyond ASCII), otherwise Mac OS Roman for a Mac book
   and Windows-1252 for a W95 one. The UTF-16 ones are only ever found, never named. */
typedef enum FerrylineCharset {
    FERRYLINE_CHARSET_AUTO = 0,
    FERRYLINE_CHARSET_MAC_ROMAN = 1,
    FERRYLINE_CHARSET_WINDOWS_1252 = 2,
    FERRYLINE_CHARSET_UTF8 = 3,
    FERRYLINE_CHARSET_LATIN1 = 4,
    FERRYLINE_CHARSET_UTF16LE = 5,
    FERRYLINE_CHARSET_UTF16BE = 6
} FerrylineCharset;

/* The first look every conversion, export and front end takes at a book, the one place its edition and
   character set are decided. A W95 book is one whose first characters other than spaces and line ends
   are "&Main ", in any of the sets (UTF-16 of either byte order, with or without a byte order mark;
   after a UTF-8 byte order mark); anything else is a Mac book. */
typedef struct FerrylineLook {
    FerrylineEdition edition;
    FerrylineByteOrderMark byteOrderMark;
    size_t bytesAbove127;      /* counted as the input is read */
    FerrylineCharset charset;  /* the set it is read in: the one named in the options, or as AUTO finds */
} FerrylineLook;

/* The first look at `size` bytes at `bytes`, in the set `chosen` (AUTO: as it finds). */
void ferryline_look(const void* bytes, size_t size, FerrylineCharset chosen, FerrylineLook* look);

/* 1 when the book looked at holds letters beyond ASCII, which copied byte by byte would read as other
   letters in the other edition: bytes above 127 besides a UTF-8 byte order mark (which a conversion
   leaves out), or UTF-16 text (which can't be copied at all). */
int ferryline_look_beyond_ascii(const FerrylineLook* look);

/* Whoever wants to hear of a conversion. Messages come in the order a user is to read them; a failure
   is told while its partial output still exists. Either function may be null. */
typedef struct FerrylineListener {
    void* context;
    void (*message)(void* context, FerrylineMessageKind kind, const char* text);
    void (*change)(void* context, const FerrylineChange* change);
} FerrylineListener;

/* Every block a conversion uses, in the manner of Lua's allocator: with newSize 0 it frees `block` and
   returns null; otherwise it returns `block` resized to newSize (a new block when `block` is null), or
   null when it refuses, leaving `block` as it was. */
typedef void* (*FerrylineAlloc)(void* context, void* block, size_t oldSize, size_t newSize);

/* Takes the next piece of output. Returns FERRYLINE_OK (0) when it is stored, FERRYLINE_NO_MEMORY when
   there was no memory to hold it, or FERRYLINE_COULD_NOT_WRITE (any other failure reads the same). */
typedef FerrylineStatus (*FerrylineWriter)(void* context, const void* data, size_t size);
/* What createOutput gives besides 1 and 0 (see FerrylineFiles). */
enum { FERRYLINE_OUTPUT_BACKUP_FOUND = 2 };

/* What a conversion is given. A null `alloc` means the C library's malloc, realloc and free; a null
   `listener` means nobody is told anything. */
typedef struct FerrylineEnv {
    FerrylineAlloc alloc;
    void* allocContext;
    const FerrylineListener* listener;
} FerrylineEnv;

/* An open file, as the operations below know it; null is never a valid file. */
typedef void* FerrylineFile;

/* The operating system's file operations, one table the frame calls through. Each operation receives
   the table it was called through, so a wrapper (standard streams, files in memory, fault injection)
   keeps in `context` a pointer to the table it wraps and passes on what it does not change.
   Int-returning operations give 1 for success and 0 for failure; `write` returns a status, as a
   FerrylineWriter does. */
typedef struct FerrylineFiles FerrylineFiles;
struct FerrylineFiles {
    void* context;
    /* Opens an existing file for reading, letting others only read it meanwhile. */
    int (*openInput)(const FerrylineFiles* self, const char* path, FerrylineFile* file);
    /* How many bytes the input holds, as far as the system knows. */
    int (*inputSize)(const FerrylineFiles* self, FerrylineFile file, uint64_t* size);
    /* Reads up to `bytes` bytes; `got` is how many arrived, 0 only at the end of the input. */
    int (*read)(const FerrylineFiles* self, FerrylineFile file, void* buffer, size_t bytes, size_t* got);
    void (*closeInput)(const FerrylineFiles* self, FerrylineFile file);
    /* Starts the output that will replace `path`; nothing stands under `path` until it is committed
       (a device or a pipe is not even opened before then). Fails when `path` exists but may not be
       replaced, and gives FERRYLINE_OUTPUT_BACKUP_FOUND, starting nothing, where a conversion killed
       while it rewrote the file in place left its backup, PATH.ferryline-backup, beside it. */
    int (*createOutput)(const FerrylineFiles* self, const char* path, FerrylineFile* file);
    /* Writes all `bytes` bytes and returns FERRYLINE_OK, or FERRYLINE_COULD_NOT_WRITE, or
       FERRYLINE_NO_MEMORY when the file is held in memory that ran out. */
    FerrylineStatus (*write)(const FerrylineFiles* self, FerrylineFile file, const void* data, size_t bytes);
    /* Makes the finished output durable under its name and releases it. On failure it still holds the
       output, which the caller tells the user about and then discards. */
    int (*commitOutput)(const FerrylineFiles* self, FerrylineFile file);
    /* Removes the unfinished output and releases it; an earlier file under its name is as it was. */
    void (*discardOutput)(const FerrylineFiles* self, FerrylineFile file);
    /* 1 when the two paths name the same file however they are spelled, else 0; null: never. */
    int (*sameFile)(const FerrylineFiles* self, const char* pathA, const char* pathB);
};

/* The columns of a CSV export. */
typedef enum FerrylineCsvLayout {
    FERRYLINE_CSV_OUTLOOK = 0, /* First Name, Last Name, E-mail Display Name, E-mail Address, Categories
                                  (groups joined by ';'), after a UTF-8 byte order mark: Outlook's names,
                                  which most importers map */
    FERRYLINE_CSV_GOOGLE = 1   /* Google Contacts' own columns, as its export writes them, the groups as
                                  its Labels joined by " ::: " after its "* myContacts" */
} FerrylineCsvLayout;

/* How to convert; a null pointer means every field 0. */
typedef struct FerrylineOptions {
    /* mac2win and win2mac: 0 converts bytes as they are; 1 reads the input in its character set and
       writes the Mac side as Mac OS Roman and the W95 side as Windows-1252, '?' for what the target
       can't hold (each such line or entry a FERRYLINE_CHARACTER_REPLACED change). */
    int recode;
    FerrylineCharset charset; /* the input's character set, for recoding and exports */
    int vcardVersion;         /* 0 or 3: vCard 3.0; 4: vCard 4.0 */
    /* 1: convert a book of the other edition than the direction's all the same; 0: refuse it with a
       message */
    int force;
    int csvLayout; /* CSV exports: a FerrylineCsvLayout */
} FerrylineOptions;

/* The files of the operating system the library was built for, and its allocator (tuned for the one
   large block that holds an input). */
const FerrylineFiles* ferryline_system_files(void);
void* ferryline_system_alloc(void* context, void* block, size_t oldSize, size_t newSize);

/* Converts `size` bytes at `input`, handing the output to `write` piece by piece. `inputTitle` names the
   input in messages. Returns FERRYLINE_OK when all of the output was handed over, or what failed, after
   the listener was told. Warnings about the content come after the last piece. `look`, when not null, is
   given the first look at the input, also when the conversion failed or refused it. */
FerrylineStatus ferryline_convert(FerrylineDirection direction, const FerrylineOptions* options, const void* input,
                                  size_t size, const char* inputTitle, FerrylineWriter write, void* writeContext,
                                  const FerrylineEnv* env, FerrylineLook* look);

/* Reads the file `inputPath` whole and replaces `outputPath` with its conversion, through `files` (null:
   ferryline_system_files()); refuses an output that is the input. Titles name the files in messages.
   Returns FERRYLINE_OK when the output is complete under its name, or what failed, after the listener
   was told; then nothing new is left under `outputPath`, and a file that stood there is as it was.
   `look` as for ferryline_convert (untouched when the input could not be read). */
FerrylineStatus ferryline_convert_file(FerrylineDirection direction, const FerrylineOptions* options, const char* inputPath, const char* inputTitle,
                           const char* outputPath, const char* outputTitle, const FerrylineFiles* files,
                           const FerrylineEnv* env, FerrylineLook* look);

/* One message as a user is shown it. */
typedef struct FerrylineMessage {
    FerrylineMessageKind kind;
    char* text;
} FerrylineMessage;

/* Everything one conversion in memory produced. Release it with ferryline_result_free. */
typedef struct FerrylineResult {
    FerrylineStatus status;      /* FERRYLINE_OK: converted */
    char* output;                /* the converted book; empty unless status is FERRYLINE_OK */
    size_t outputSize;
    FerrylineMessage* messages;  /* in the order the Windows program shows them */
    size_t messageCount;
    char* changes;               /* one line ending in '\n' for every change, as ferryline_describe_change */
    size_t changesSize;
    /* The blocks' sizes and the allocator that holds them, for ferryline_result_free. */
    size_t outputCapacity;
    size_t messageCapacity;
    size_t changesCapacity;
    FerrylineAlloc alloc;
    void* allocContext;
    FerrylineLook look;          /* the first look at the input */
} FerrylineResult;

/* ferryline_convert into memory, collecting the output, the messages and the changes into `result`
   (the listener of `env`, when there is one, hears them too). The change lines stop after 4 MiB with a
   line that counts the rest. Returns result->status; `result` is to be freed whatever it is. */
FerrylineStatus ferryline_convert_bytes(FerrylineDirection direction, const FerrylineOptions* options, const void* input, size_t size,
                                        const char* inputTitle, const FerrylineEnv* env, FerrylineResult* result);
/* Releases what `result` holds through the allocator it was filled with. */
void ferryline_result_free(FerrylineResult* result);

/* The change as one line of UTF-8 text without its line end, such as
   `line 7: no personal name, named "No Name 01": "bob@example.org" became "No Name 01" <bob@example.org>`.
   The conversions hand over names and addresses in UTF-8 (decoded from the character set the first look
   chose); a byte that is no part of a UTF-8 character is written \xNN, and so is every control
   character (C0 and DEL; U+0080-U+009F as \u0080-\u009f), so the line is safe to show on a terminal.
   Writes at most `capacity` bytes including a terminating zero and returns the length of the whole line,
   as snprintf does. */
size_t ferryline_describe_change(const FerrylineChange* change, char* buffer, size_t capacity);

/* `size` bytes of UTF-8 text, a file name say, escaped as ferryline_describe_change escapes names. */
size_t ferryline_shown_text(const char* text, size_t size, char* buffer, size_t capacity);

/* An address book as a list of groups and entries, as both editions' readers see it; what the exports
   write, and what a front end may show. Its text is UTF-8. */

#define FERRYLINE_NO_GROUP ((size_t)-1)

typedef struct FerrylineBookEntry {
    FerrylineText name;    /* empty for a Mac line without a name */
    FerrylineText address;
    size_t group;          /* an index into the groups, or FERRYLINE_NO_GROUP for the book's default group */
    size_t nextSame;       /* the next entry of the same person (same name and address), or FERRYLINE_NO_GROUP */
    int firstOfPerson;     /* 1 for the first entry of its person */
    uint64_t line;         /* its line in a Mac book, its entry number in a W95 one */
} FerrylineBookEntry;

typedef struct FerrylineBook {
    FerrylineEdition edition;   /* the edition that was read */
    FerrylineText* groups;      /* distinct group names, in the order they first appear */
    size_t groupCount;
    FerrylineBookEntry* entries;
    size_t entryCount;
    /* The blocks behind it and the allocator that holds them, for ferryline_book_free. */
    char* text;
    size_t textCapacity;
    size_t groupCapacity;
    size_t entryCapacity;
    FerrylineAlloc alloc;
    void* allocContext;
} FerrylineBook;

/* Reads a book of `edition` (EITHER: as the first look tells) in its character set (options->charset)
   with the editions' grammars: a W95 entry without an address is left out and told as a change, the W95
   group "Main" starts no group. Returns FERRYLINE_OK with `book` filled, or what failed after telling
   it, holding nothing. */
FerrylineStatus ferryline_read_book(FerrylineEdition edition, const FerrylineOptions* options, const void* input, size_t size,
                                    const char* inputTitle, const FerrylineEnv* env, FerrylineBook* book);
/* Releases what `book` holds through the allocator it was read with. */
void ferryline_book_free(FerrylineBook* book);

/* A book looked at closely, as ferryline_inspect finds it. A W95 book counts its entries with an empty
   name as nameless lines and has no reserved characters; line ends and the longest line are counted in
   the bytes of either edition. The counts of a UTF-16 text are 0. */
typedef struct FerrylineInspection {
    FerrylineLook look;
    int complete;                /* a W95 book: it ends with its '+' as it must; a Mac book: 1 */
    /* Counts of 64 bits on every system, for books larger than 4 GiB. */
    uint64_t entries;
    uint64_t groups;             /* a W95 book: besides its first, default group */
    uint64_t namelessLines;
    uint64_t reservedLines;      /* lines with & # ^ + */
    uint64_t withoutAddress;     /* entries with no address (W95) or an empty one (Mac) */
    uint64_t mainGroups;         /* groups named "Main" (W95: besides the first) */
    uint64_t longestLine;        /* in bytes, without its line end */
    uint64_t longestLineNumber;
    uint64_t crlfEnds;
    uint64_t lfEnds;
    uint64_t crEnds;
    uint64_t zeroBytes;
    FerrylineBytesLookLike charset;
} FerrylineInspection;

void ferryline_inspect(const void* bytes, size_t size, FerrylineInspection* inspection);

/* Reads the file `path` (through `files`, null: the system's) and inspects it. Returns FERRYLINE_OK, or
   why the file could not be read, after the listener of `env` was told. */
FerrylineStatus ferryline_inspect_file(const char* path, const char* title, const FerrylineFiles* files,
                                       const FerrylineEnv* env, FerrylineInspection* inspection);

#ifdef __cplusplus
}
#endif

#endif /* RC_INVOKED */

#endif
