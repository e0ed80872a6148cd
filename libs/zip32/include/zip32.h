/* zip32: builds zip archives. The C interface of our zip library: ZpInit takes the
 * callbacks, ZpSetOptions the options, ZpArchive builds one archive.
 * See libs/zip32/README.md for every field, callback and result code. */
#ifndef KALO_ZIP32_H
#define KALO_ZIP32_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define ZIP32_CALL __stdcall
#else
#define ZIP32_CALL
#endif

#if defined(_WIN32) && defined(ZIP32_BUILDING)
#define ZIP32_EXPORT __declspec(dllexport)
#elif defined(_WIN32)
#define ZIP32_EXPORT __declspec(dllimport)
#else
#define ZIP32_EXPORT __attribute__((visibility("default")))
#endif

#define ZIP32_NAME_LIST_SLOTS 100
#define ZIP32_COMMENT_BUFFER_SIZE 4097

/* Result codes. */
#define ZIP32_OK 0
#define ZIP32_NOTHING_TO_DO 1   /* no listed name matched a file */
#define ZIP32_BAD_ARCHIVE 2     /* the archive to update is not a readable zip archive */
#define ZIP32_WRITE_FAILED 3    /* the archive could not be written */
#define ZIP32_READ_FAILED 4     /* a listed file could not be read */
#define ZIP32_BAD_PARAMETERS 5  /* missing archive path or list, or a negative count */
#define ZIP32_NOT_INITIALISED 6 /* ZpArchive before ZpInit */

typedef int32_t(ZIP32_CALL* ZipPrintCallback)(const char* text, uint32_t length);
typedef int32_t(ZIP32_CALL* ZipPasswordCallback)(char* password, int32_t size, const char* prompt,
                                                 const char* name);
typedef char*(ZIP32_CALL* ZipCommentCallback)(char* comment);
typedef void(ZIP32_CALL* ZipUnusedCallback)(void);

typedef struct ZipCallbacks {
  ZipPrintCallback Print;       /* 1: one line per file added */
  ZipPasswordCallback Password; /* 2: never called (no encryption) */
  ZipCommentCallback Comment;   /* 3: asked once per archive for its comment */
  ZipUnusedCallback Unused;     /* 4 */
} ZipCallbacks;

/* The option record: twenty-seven 32-bit fields, one byte, then two texts. Only the
 * fields named below have an effect; the README says so field by field. */
typedef struct ZipOptions {
  int32_t Field01;
  int32_t Field02;
  int32_t Field03;
  int32_t Field04;
  int32_t Field05;
  int32_t Field06;
  int32_t Field07;
  int32_t Field08;
  int32_t Field09;
  int32_t Field10;
  int32_t Field11;
  int32_t Field12;
  int32_t Field13;
  int32_t RecurseFolders; /* 14: add the files below listed folders */
  int32_t Field15;
  int32_t Field16;
  int32_t Field17;
  int32_t Field18;
  int32_t UpdateArchive; /* 19: add to an existing archive instead of replacing it */
  int32_t Field20;
  int32_t Field21;
  int32_t Field22;
  int32_t Field23;
  int32_t Field24;
  int32_t Field25;
  int32_t Field26;
  int32_t Field27;
  uint8_t Field28;
  const char* Field29;
  const char* RootDirectory; /* 30: names under it are stored relative to it */
} ZipOptions;

ZIP32_EXPORT int32_t ZIP32_CALL ZpInit(ZipCallbacks* callbacks);
ZIP32_EXPORT int32_t ZIP32_CALL ZpSetOptions(ZipOptions* options);
ZIP32_EXPORT int32_t ZIP32_CALL ZpArchive(int32_t count, const char* archive, char** names);

#ifdef __cplusplus
} /* extern "C" */

#include <cstddef>

static_assert(offsetof(ZipOptions, RecurseFolders) == 52);
static_assert(offsetof(ZipOptions, UpdateArchive) == 72);
static_assert(offsetof(ZipOptions, Field28) == 108);
static_assert(offsetof(ZipOptions, Field29) == 112);
static_assert(sizeof(void*) != 4 || sizeof(ZipOptions) == 120);
static_assert(sizeof(void*) != 4 || sizeof(ZipCallbacks) == 16);
#endif

#endif /* KALO_ZIP32_H */
