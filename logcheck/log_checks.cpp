/*
 * The static checks: every record judged as the uninstaller will read it,
 * with the same functions, then the log as a whole (order, repeats, encoding).
 * Each check has a stable name that CI jobs may grep for.
 */
#include "logcheck/logcheck.h"

#include <stdlib.h>
#include <string.h>

const CheckDescription CHECKS[] = {
    /* Records passed over. */
    {"utf16-log", SEVERITY_ERROR, "a UTF-16 log: every zero byte ends a record, so nothing is carried out"},
    {"byte-order-mark", SEVERITY_ERROR, "a byte-order mark before the first kind: that record is passed over"},
    {"leading-blank", SEVERITY_ERROR, "a blank before the kind: the record is passed over"},
    {"unknown-kind", SEVERITY_ERROR, "no known kind (file:, dir:, dirw:, key:, link:): passed over"},
    {"empty-path", SEVERITY_ERROR, "a kind with no path: nothing is removed"},
    /* Registry items. */
    {"key-too-few-backslashes", SEVERITY_ERROR, "a key: item with fewer than two backslashes: passed over"},
    {"unknown-root", SEVERITY_ERROR, "a registry root that names no key: the system refuses"},
    {"key-empty-path", SEVERITY_ERROR, "ROOT\\\\NAME or ROOT\\\\: acts on the root key itself"},
    /* Paths. */
    {"path-not-fully-qualified", SEVERITY_ERROR, "file:, dir:, link: path that depends on the current folder"},
    {"path-too-long", SEVERITY_ERROR, "a path of more than 259 bytes: refused (dirw:, error 206) or failing"},
    {"path-lone-lead-byte", SEVERITY_ERROR, "a path ending in a lone lead byte (double-byte code pages): refused (87)"},
    {"dirw-refused", SEVERITY_ERROR, "a tree root the safety test refuses (error 87): drive, share, relative"},
    {"dirw-trailing-separator", SEVERITY_ERROR, "a tree root ending in '/' or in two backslashes names nothing"},
    {"shared-folder", SEVERITY_ERROR, "dir: or dirw: of a folder that other programs share"},
    /* The uninstaller's own path. */
    {"dirw-deferred", SEVERITY_ERROR, "a tree holding the uninstaller: deferred whole, nothing below removed"},
    {"deferred-other-path", SEVERITY_ERROR, "a path only textually leading the uninstaller's: deferred though another"},
    {"uninstaller-left-behind", SEVERITY_WARNING, "no record names the uninstaller given by --uninstaller: it stays"},
    /* Order and repeats. */
    {"dir-before-contents", SEVERITY_WARNING, "a dir: before records inside it: not empty at its turn"},
    {"key-before-subkeys", SEVERITY_WARNING, "a key before items in its subkeys: not deleted at its turn"},
    {"repeated-path", SEVERITY_WARNING, "the same path or registry item named again"},
    {"inside-removed-tree", SEVERITY_WARNING, "a record inside a tree that an earlier dirw: removed"},
    {"log-not-last", SEVERITY_WARNING, "the log's own file: record before others: a stopped run cannot be repeated"},
    /* Spellings. */
    {"utf8-text", SEVERITY_WARNING, "UTF-8 text: read in the ANSI code page, it names another path"},
    {"link-extension", SEVERITY_WARNING, "a link: whose name does not end in .lnk or .url"},
    {"slash-separator", SEVERITY_WARNING, "'/' as a separator in a file:, dir: or dirw: path"},
};
const size_t CHECK_COUNT = sizeof CHECKS / sizeof CHECKS[0];

static bool EndsWithUninstallExe(const char *path, size_t length, const unsigned char *leadBytes)
{
    static const char NAME[] = "\\uninstall.exe";
    size_t nameLength = sizeof NAME - 1;
    /* The backslash must be one, not the second byte of a character before it. */
    return length >= nameLength && EqualIgnoringAsciiCase(path + length - nameLength, NAME, nameLength) &&
           FindLastChar(path, length, '\\', leadBytes) == length - nameLength;
}

bool FindUninstallerPath(const LogText *log, const CheckOptions *options, char *path, size_t size,
                         size_t *record)
{
    *record = log->recordCount;
    if (options->uninstaller != NULL) {
        snprintf(path, size, "%s", options->uninstaller);
        return true;
    }
    for (size_t i = 0; i < log->recordCount; i++) {
        const LogRecord *candidate = &log->records[i];
        if (candidate->kind != RECORD_FILE)
            continue;
        const char *argument = log->bytes + candidate->start + candidate->argument;
        size_t length = candidate->length - candidate->argument;
        if (EndsWithUninstallExe(argument, length, log->leadBytes) && length < size) {
            RecordArgument(log, candidate, path, size);
            *record = i;
            return true;
        }
    }
    return false;
}

/* Zero bytes between the characters of the first two: the log was written in
   UTF-16, with or without a byte-order mark. */
static bool IsUtf16(const LogText *log)
{
    const unsigned char *b = (const unsigned char *)log->bytes;
    if (log->size >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF)))
        return true;
    if (log->size < 4)
        return false;
    return (b[0] >= 0x20 && b[1] == 0 && b[2] >= 0x20 && b[3] == 0) ||
           (b[0] == 0 && b[1] >= 0x20 && b[2] == 0 && b[3] >= 0x20);
}

/* A record that the clean-up copy will take the uninstaller's own file from. */
static bool NamesUninstaller(const LogText *log, const char *uninstaller)
{
    size_t length = strlen(uninstaller);
    for (size_t i = 0; i < log->recordCount; i++) {
        const LogRecord *record = &log->records[i];
        if (record->kind != RECORD_FILE && record->kind != RECORD_DIR && record->kind != RECORD_DIRW)
            continue;
        if (record->length - record->argument == length &&
            IsLeadingPartOf(log->bytes + record->start + record->argument, length, uninstaller,
                            log->leadBytes))
            return true;
    }
    return false;
}

void CheckLog(const LogText *log, const CheckOptions *options, Findings *findings)
{
    if (log->recordCount == 0)
        return;
    if (IsUtf16(log)) {
        AddFinding(findings, 0, SEVERITY_ERROR, "utf16-log",
                   "the log is UTF-16: the uninstaller reads bytes, every zero byte ends a record, "
                   "and nothing is carried out; write it in the ANSI code page");
        return;
    }
    char uninstaller[PATH_BUFFER_SIZE];
    size_t named;
    bool known = FindUninstallerPath(log, options, uninstaller, sizeof uninstaller, &named);
    RecordFacts *facts = (RecordFacts *)calloc(log->recordCount, sizeof(RecordFacts));
    RecordFacts scratch;
    for (size_t i = 0; i < log->recordCount; i++)
        CheckRecord(log, i, known ? uninstaller : NULL, facts != NULL ? &facts[i] : &scratch, findings);
    if (facts != NULL) {
        CheckOrderAndRepeats(log, facts, findings);
        CheckOwnRecordLast(log, facts, findings);
    }
    free(facts);

    if (known && named == log->recordCount && !NamesUninstaller(log, uninstaller)) {
        char quoted[256];
        AddFinding(findings, 0, SEVERITY_WARNING, "uninstaller-left-behind",
                   "no file: record names the uninstaller %s: it stays behind",
                   QuoteText(uninstaller, strlen(uninstaller), quoted, sizeof quoted, log->leadBytes));
    }
}
