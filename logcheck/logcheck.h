/*
 * The removal log checker: reads a log exactly as the uninstaller does (the
 * same record reading, the same tests of a path's spelling) and reports, in
 * the form compilers use, what the uninstaller will pass over, refuse, leave
 * behind or do harm with. Everything here needs no operating system; the
 * preview of a live machine (preview/, Windows only) builds on it.
 */
#pragma once

#include "removal/records.h"

#include <stddef.h>
#include <stdio.h>

/* log_text.cpp */

struct LogRecord {
    size_t start;    /* offset of the record's first byte in the log */
    size_t length;   /* bytes up to the next separator */
    RecordKind kind;
    size_t argument; /* offset of the argument inside the record */
};

struct LogText {
    const char *name;   /* as given on the command line; "<stdin>" for "-" */
    const char *bytes;  /* the log as read, never changed */
    size_t size;
    LogRecord *records; /* in file order */
    size_t recordCount;
    size_t *lineStarts; /* offset where each line begins */
    size_t lineCount;
    const unsigned char *leadBytes; /* the code page's lead bytes; null: single-byte */
};

/* The whole file, or standard input for "-", as bytes (a 0x1A byte included).
   False with the system's reason when it cannot be read. The block has one
   zero byte past its end. */
bool ReadLogFile(const char *path, char **bytes, size_t *size, char *reason, size_t reasonSize);
/* Records and lines of the bytes, which must outlive the log. False when memory
   runs out. The log is read as single-byte text until leadBytes is set. */
bool ParseLog(LogText *log, const char *name, const char *bytes, size_t size);
void FreeLog(LogText *log);
/* 1-based line and column of a byte offset: LF, CR LF or a lone CR ends a line. */
void LineAndColumn(const LogText *log, size_t offset, size_t *line, size_t *column);
/* The record's argument, zero-terminated in the caller's buffer, cut to fit. */
const char *RecordArgument(const LogText *log, const LogRecord *record, char *buffer, size_t size);

/* findings.cpp */

enum Severity {
    SEVERITY_WARNING,
    SEVERITY_ERROR,
};

struct Finding {
    size_t offset;     /* where in the log the finding points */
    size_t sequence;   /* order of reporting, for a stable sort */
    Severity severity;
    const char *check; /* stable name, e.g. "unknown-kind" */
    char *message;
};

struct Findings {
    Finding *items;
    size_t count;
    size_t capacity;
    size_t errors;
    size_t warnings;
};

void AddFinding(Findings *findings, size_t offset, Severity severity, const char *check,
                const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 5, 6)))
#endif
    ;
/* In log order: "LOG:LINE:COLUMN: error: message [check]", each line ending in LF. */
void PrintFindings(FILE *out, const LogText *log, Findings *findings);
void FreeFindings(Findings *findings);

/* path_spelling.cpp: what the checker judges of a spelling that the
   uninstaller never asks itself. */

/* A drive path ("X:\", "X:/") or one that starts with two separators (a
   share or a device path): it does not depend on the current folder. */
bool IsFullyQualified(const char *path, size_t length);
/* Where the first valid multi-byte UTF-8 sequence starts, or length. */
size_t FindUtf8Sequence(const char *text, size_t length);
/* Every lead byte is followed by a second byte the double-byte code pages use
   (0x40 to 0xFE, not 0x7F): the text reads as that code page's characters. */
bool IsDoubleByteText(const char *text, size_t length, const unsigned char *leadBytes);
/* The bytes printable in a message: ASCII as is, others as \xNN, a double-byte
   character always whole, cut after about 60 bytes with "...". */
const char *QuoteText(const char *text, size_t length, char *buffer, size_t size,
                      const unsigned char *leadBytes = NULL);
/* The candidate nearest to `word` (ASCII case aside, a transposition counts
   one) when it is near enough to be a slip of the keyboard; null otherwise. */
const char *NearestName(const char *word, size_t length, const char *const *candidates,
                        size_t count);

/* shared_folders.cpp */

/* A folder that other programs share, judged by its spelling alone, any drive
   letter, case and trailing separators aside. *description names it in the
   generic form ("X:\Program Files"). */
bool IsSharedFolder(const char *path, size_t length, const char **description,
                    const unsigned char *leadBytes = NULL);

/* log_checks.cpp */

struct CheckOptions {
    const char *uninstaller; /* --uninstaller PATH, or null */
};

struct CheckDescription {
    const char *name;
    Severity severity;
    const char *summary;
};

extern const CheckDescription CHECKS[];
extern const size_t CHECK_COUNT;

/* The uninstaller's own path by the checker's rule: --uninstaller PATH, else
   the first file: record whose path ends in \uninstall.exe (case aside). False
   when it is unknown. *record is that record's index, or recordCount when the
   path came from the options. */
bool FindUninstallerPath(const LogText *log, const CheckOptions *options, char *path, size_t size,
                         size_t *record);
/* Every static check over the whole log. */
void CheckLog(const LogText *log, const CheckOptions *options, Findings *findings);

/* record_checks.cpp: each record alone, as the uninstaller will carry it out. */

/* What the record-by-record checks learn that the order checks need. */
struct RecordFacts {
    bool path;     /* a file-system path the order and repeat checks compare */
    bool registry; /* a registry item they compare */
    bool dirPending; /* a dir: that is removed at its turn (not deferred) */
    bool treeRemoved; /* a dirw: whose tree is removed at its turn */
    bool deferred; /* a file: or dir: kept for the clean-up copy, which takes them in log order */
};

/* uninstaller: the program's own path, or null when unknown. */
void CheckRecord(const LogText *log, size_t index, const char *uninstaller, RecordFacts *facts,
                 Findings *findings);

/* order_checks.cpp: the log as a whole, in O(n) hash look-ups per path byte. */

void CheckOrderAndRepeats(const LogText *log, const RecordFacts *facts, Findings *findings);
/* The log's own file: record (the last whose file name is the log's as given)
   is followed by nothing but the clean-up copy's paths. */
void CheckOwnRecordLast(const LogText *log, const RecordFacts *facts, Findings *findings);

/* preview/system_preview.cpp (Windows) or no_system_preview.cpp */

/* What each record will do on this machine; prints to out and returns the exit
   status (0: nothing left or failing, 1: otherwise, 2: no preview here). */
int PreviewOnSystem(const LogText *log, const CheckOptions *options, FILE *out);
/* The lead bytes of this machine's ANSI code page; null off Windows. */
const unsigned char *SystemLeadBytes();
