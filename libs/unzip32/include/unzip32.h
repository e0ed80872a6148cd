/* unzip32: extracts zip archives. The C interface of our unzip library: one call,
 * Wiz_SingleEntryUnzip, driven by a command record and answered through callbacks.
 * See libs/unzip32/README.md for every field, callback and result code. */
#ifndef KALO_UNZIP32_H
#define KALO_UNZIP32_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define UNZIP32_CALL __stdcall
#else
#define UNZIP32_CALL
#endif

#if defined(_WIN32) && defined(UNZIP32_BUILDING)
#define UNZIP32_EXPORT __declspec(dllexport)
#elif defined(_WIN32)
#define UNZIP32_EXPORT __declspec(dllimport)
#else
#define UNZIP32_EXPORT __attribute__((visibility("default")))
#endif

/* Slots of a name list: an array of this many pointers to NUL-terminated text. */
#define UNZIP32_NAME_LIST_SLOTS 100

/* Answers of the replace callback. */
#define UNZIP32_REPLACE_NO 100   /* keep the existing file */
#define UNZIP32_REPLACE_YES 102  /* replace it */
#define UNZIP32_REPLACE_NONE 104 /* keep it, and every later existing file */

/* Result codes of Wiz_SingleEntryUnzip. */
#define UNZIP32_OK 0                /* everything asked for was done */
#define UNZIP32_WARNING 1           /* done, but entries were skipped (see README) */
#define UNZIP32_BAD_ARCHIVE 2       /* corrupt or truncated archive or entry */
#define UNZIP32_ARCHIVE_NOT_FOUND 3 /* the archive is missing or unreadable */
#define UNZIP32_NO_MATCH 4          /* no entry matched the include list */
#define UNZIP32_BAD_PASSWORD 5      /* an encrypted entry could not be decrypted */
#define UNZIP32_ABORTED 6           /* a callback asked to stop */
#define UNZIP32_WRITE_FAILED 7      /* a file or folder could not be written */
#define UNZIP32_BAD_PARAMETERS 8    /* missing record, path or list */

/* The command record: fifteen 32-bit fields, then the two paths. */
typedef struct UnzipCommand {
  int32_t ExtractOnlyNewer;  /* 1: freshen: only replace existing files with newer entries */
  int32_t SpaceToUnderScore; /* 2: blanks in written names become underscores */
  int32_t PromptOverwrite;   /* 3: ask the replace callback before replacing a file */
  int32_t MessageLevel;      /* 4: 0 silent, 1 summary, 2 and up one line per entry */
  int32_t WriteToStdOut;     /* 5: entry contents go to the print callback, no files */
  int32_t TestZip;           /* 6: check every entry's data, write nothing */
  int32_t ExtractList;       /* 7: list entries through the list callback, write nothing */
  int32_t ExtractNewer;      /* 8: update: new entries, and entries newer than their file */
  int32_t DisplayComment;    /* 9: print the archive comment */
  int32_t HonorDirectories;  /* 10: recreate stored folders; 0 writes every file flat */
  int32_t OverWriteFiles;    /* 11: replace existing files without asking */
  int32_t ConvertCRtoCRLF;   /* 12: text entries get CR LF line ends */
  int32_t Verbose;           /* 13: more detail in what is printed */
  int32_t CaseSensitive;     /* 14: name lists match entry names with case */
  int32_t Privilege;         /* 15: accepted; no effect on POSIX */
  const char* ZipFileName;   /* 16: the archive */
  const char* ExtractDir;    /* 17: the destination folder */
} UnzipCommand;

typedef int32_t(UNZIP32_CALL* UnzipPrintCallback)(const char* text, uint32_t length);
typedef void(UNZIP32_CALL* UnzipSoundCallback)(void);
typedef int32_t(UNZIP32_CALL* UnzipReplaceCallback)(char* file_name);
typedef int32_t(UNZIP32_CALL* UnzipPasswordCallback)(char* password, int32_t size,
                                                     const char* prompt, const char* entry_name);
typedef void(UNZIP32_CALL* UnzipListEntryCallback)(int32_t size, uint32_t compressed_size,
                                                   uint16_t ratio_percent, uint16_t month,
                                                   uint16_t day, uint16_t year, uint16_t hour,
                                                   uint16_t minute, uint8_t is_folder,
                                                   const char* name, const char* method,
                                                   uint32_t crc, uint8_t encrypted);
typedef int32_t(UNZIP32_CALL* UnzipServiceCallback)(const char* entry_name, uint32_t name_length);

/* The callback record: six callbacks (any may be null), then five totals that the
 * library fills in after the run. */
typedef struct UnzipCallbacks {
  UnzipPrintCallback Print;         /* 1 */
  UnzipSoundCallback Sound;         /* 2: never called */
  UnzipReplaceCallback Replace;     /* 3 */
  UnzipPasswordCallback Password;   /* 4 */
  UnzipListEntryCallback ListEntry; /* 5 */
  UnzipServiceCallback Service;     /* 6 */
  uint32_t TotalCompressedSize;     /* 7 */
  uint32_t TotalSize;               /* 8 */
  uint32_t CompressionPercent;      /* 9 */
  uint32_t EntryCount;              /* 10 */
  uint32_t CommentLength;           /* 11 */
} UnzipCallbacks;

/* Runs one extraction. The name lists hold UNZIP32_NAME_LIST_SLOTS pointers; a count
 * of 0 means "every entry" for the include list and "none" for the exclude list. */
UNZIP32_EXPORT int32_t UNZIP32_CALL Wiz_SingleEntryUnzip(int32_t include_count, char** include_list,
                                                         int32_t exclude_count, char** exclude_list,
                                                         UnzipCommand* command,
                                                         UnzipCallbacks* callbacks);

#ifdef __cplusplus
} /* extern "C" */

#include <cstddef>

/* Layouts the binding relies on: the 32-bit fields keep their offsets on every
 * build, and a 32-bit build has exactly the record sizes of the interface. */
static_assert(offsetof(UnzipCommand, MessageLevel) == 12);
static_assert(offsetof(UnzipCommand, Privilege) == 56);
static_assert(offsetof(UnzipCommand, ZipFileName) == (sizeof(void*) == 4 ? 60 : 64));
static_assert(sizeof(void*) != 4 || sizeof(UnzipCommand) == 68);
static_assert(sizeof(void*) != 4 || sizeof(UnzipCallbacks) == 44);
#endif

#endif /* KALO_UNZIP32_H */
