/*
 * The removal log: read whole and closed before anything runs, cut in place at
 * every control character, then carried out record by record, best effort.
 * The block holding the log is never freed; records point into it.
 */
#include "removal/removal.h"
#include "driver/driver.h"
#include "removal/records.h"

#include <stdlib.h>
#include <string.h>

ErrorRef OpenForReading(const char *path, HANDLE *handle)
{
    ErrorRef result = CheckedCreateFile(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, NULL, handle);
    if (result != NULL || *handle == INVALID_HANDLE_VALUE)
        *handle = NULL;
    return result;
}

ErrorRef ReadBlock(HANDLE file, char *block, int count)
{
    while (count > 0) {
        DWORD read = 0;
        ErrorRef result = CheckedReadFile(file, block, (DWORD)count, &read, NULL);
        if (result != NULL)
            return result;
        if (read == 0 || read > (DWORD)count)
            return NULL;
        block += read;
        count -= (int)read;
    }
    return NULL;
}

void (*RecordCarriedOut)(const RecordReport *report) = NULL; /* told of every record; null: nobody asks */
void (*TreeEntryAtRestart)(const char *path, const char *held) = NULL; /* told of a tree's scheduled entries */
bool (*KeepsForReport)(const char *path) = NULL; /* by spelling; null: no report kept */
bool (*HoldsForReport)(const char *path) = NULL; /* by identity; null: no report held */
unsigned long EarlierDeletionsWaiting = 0; /* an earlier removal's deletions found before the first record */

static FileIdentity LogIdentity; /* the log being carried out */
static bool LogIdentityKnown;

bool IsRemovalLog(const char *path)
{
    FileIdentity identity;
    DWORD code;
    return LogIdentityKnown && IdentityOf(path, false, &identity, &code) &&
           SameIdentity(&identity, &LogIdentity);
}

static void Refuse(RecordReport *report, DWORD code)
{
    report->outcome = REFUSED;
    report->code = code;
}

/* A path that ends inside a character names another file: the system's
   conversion drops or replaces the lone lead byte. */
static bool RefusesSpelling(const char *path, const char *label, RecordReport *report)
{
    if (!EndsInLoneLeadByte(path, strlen(path), AnsiLeadBytes()))
        return false;
    RecordErrorCode(ERROR_INVALID_PARAMETER, label, "%s", path);
    Refuse(report, ERROR_INVALID_PARAMETER);
    return true;
}

static void RemoveTreeRecord(const char *argument, RecordReport *report)
{
    char path[MAX_PATH];
    size_t length = strlen(argument);
    if (length >= sizeof path) {
        RecordErrorCode(ERROR_FILENAME_EXCED_RANGE, "RemoveTree", "%s", argument);
        Refuse(report, ERROR_FILENAME_EXCED_RANGE);
        return;
    }
    if (RefusesSpelling(argument, "RemoveTree", report))
        return;
    memcpy(path, argument, length + 1);
    if (DeferOwnPath(path))
        return;
    if (!IsSafeTreeRoot(path, length, AnsiLeadBytes())) {
        RecordErrorCode(ERROR_INVALID_PARAMETER, "RemoveTree", "%s", path);
        Refuse(report, ERROR_INVALID_PARAMETER);
        return;
    }
    memset(&TreeRemoved, 0, sizeof TreeRemoved);
    ErrorRef failure = RemoveTree(path, "*.*");
    report->tree = TreeRemoved;
    if (failure != NULL) {
        /* The walk leaves the entry that failed in the buffer. */
        report->outcome = failure->code == ERROR_REDIRECTED_ENTRY ? REDIRECTED : TREE_STOPS;
        report->code = failure->code;
        memcpy(report->stoppedAt, path, sizeof path);
    } else {
        TreeTally done = TreeRemoved;
        bool found = done.files + done.folders + done.links + done.deferred > 0;
        if (!found && done.kept > 0)
            report->outcome = KEPT_FOR_REPORT; /* it found the report alone */
        else
            report->outcome = found ? WILL_REMOVE_TREE : NAMES_NOTHING;
    }
}

/* file:, link: and dir: records: the outcome of one deletion. */
static void EntryRemoved(RecordReport *report, const char *path, ErrorRef result, bool folder,
                         DWORD attributesBefore)
{
    if (RecordCarriedOut == NULL)
        return; /* nobody asks: no look at the entry after a failure */
    if (result != NULL) {
        report->code = result->code;
        report->outcome = EntryFailureOutcome(path, result->code, folder);
    } else if (!folder) {
        report->outcome = WILL_REMOVE_FILE;
    } else {
        bool link = attributesBefore != INVALID_FILE_ATTRIBUTES &&
                    (attributesBefore & FILE_ATTRIBUTE_REPARSE_POINT);
        report->outcome = link ? WILL_REMOVE_LINK : WILL_REMOVE_FOLDER;
    }
}

/* Left where it is: the program's own path for the copy, or the report. */
static bool LeftInPlace(const char *path, RecordReport *report)
{
    if (KeepsForReport != NULL && KeepsForReport(path))
        report->outcome = KEPT_FOR_REPORT;
    else if (!DeferOwnPath(path))
        return false;
    return true;
}

/* The removal's outcome. One that failed on the report, or on the program's
   own file or folders, under another spelling leaves it in place (a link: is
   never deferred, and never moved either); one in use goes at the restart. */
static void Removed(RecordReport *report, const char *path, ErrorRef result, bool folder,
                    bool link, DWORD attributesBefore)
{
    if (result != NULL && HoldsForReport != NULL && HoldsForReport(path)) {
        report->outcome = KEPT_FOR_REPORT;
        return;
    }
    if (result != NULL && (link ? IsOwnPath(path) : DeferOwnIdentity(path) != 0)) {
        if (link)
            EntryRemoved(report, path, result, folder, attributesBefore);
        return; /* deferred */
    }
    if (result != NULL) {
        RestartFacts facts = {};
        facts.folder = folder;
        facts.holdsScheduled = folder && result->code == ERROR_DIR_NOT_EMPTY && HoldsOnlyScheduled(path);
        AtRestart done = RemoveAtRestart(path, result->code, &facts, report->heldAt);
        if (done == AT_RESTART_MOVED || done == AT_RESTART_IN_PLACE) {
            report->outcome = WILL_REMOVE_AT_RESTART;
            report->tree.atRestart = 1;
            report->tree.inPlace = done == AT_RESTART_IN_PLACE ? 1 : 0;
            return;
        }
    }
    EntryRemoved(report, path, result, folder, attributesBefore);
}

static void CarryOut(char *record, size_t length, RecordReport *report)
{
    size_t at;
    char *argument;
    ErrorRef result;
    DWORD before = INVALID_FILE_ATTRIBUTES;
    report->outcome = DEFERRED; /* unless what it did says otherwise */
    switch (RecordKindOf(record, length, &at)) {
    case RECORD_FILE:
        argument = record + at;
        if (!RefusesSpelling(argument, "DeleteFile", report) && !LeftInPlace(argument, report))
            Removed(report, argument, DeleteRecordEntry(argument, false), false, false, before);
        break;
    case RECORD_DIR:
        argument = record + at;
        if (RefusesSpelling(argument, "Remove Directory", report) || LeftInPlace(argument, report))
            break;
        /* Only the report tells a folder link from a folder, so only it asks. */
        if (RecordCarriedOut != NULL)
            before = GetFileAttributesA(argument);
        Removed(report, argument, DeleteRecordEntry(argument, true), true, false, before);
        break;
    case RECORD_DIRW:
        RemoveTreeRecord(record + at, report);
        break;
    case RECORD_KEY:
        result = RemoveRegistryItem(record + at);
        if (RecordCarriedOut != NULL)
            report->outcome = RegistryOutcome(record + at, result, &report->code);
        break;
    case RECORD_LINK:
        /* Never deferred, but the report stays whatever names it. */
        argument = record + at;
        if (RefusesSpelling(argument, "DeleteFile", report))
            break;
        if (KeepsForReport != NULL && KeepsForReport(argument))
            report->outcome = KEPT_FOR_REPORT;
        else
            Removed(report, argument, CheckedDeleteFile(argument), false, true, before);
        break;
    case RECORD_NONE:
        report->outcome = PASSED_OVER;
        break;
    }
}

/* The log itself: no file at its path, or one that cannot be read. */
static ErrorRef TellOfLog(Outcome outcome, DWORD code, ErrorRef result)
{
    if (RecordCarriedOut != NULL) {
        RecordReport report;
        memset(&report, 0, sizeof report);
        report.outcome = outcome;
        report.code = code;
        RecordCarriedOut(&report);
    }
    return result;
}

/* LF, CR LF or a lone CR ends a line, as the checker counts them. */
static bool EndsLine(const char *block, size_t size, size_t at)
{
    return block[at] == '\n' || (block[at] == '\r' && (at + 1 >= size || block[at + 1] != '\n'));
}

ErrorRef ProcessRemovalLog(const char *logPath)
{
    ForgetOpenFolders(); /* what others may change is learnt anew for each run */
    /* Only a log that is not there means nothing is installed: any other
       failed look at it (access, the network, a path too long) is a failure. */
    EntryInfo info;
    ErrorRef probed = FindEntry(logPath, &info);
    if (probed != NULL && probed->code != ERROR_FILE_NOT_FOUND &&
        probed->code != ERROR_PATH_NOT_FOUND)
        return TellOfLog(FAILED_OTHERWISE, probed->code, probed);
    if (info.kind != ENTRY_FILE)
        return TellOfLog(NAMES_NOTHING, 0, NULL);

    HANDLE file;
    ErrorRef result = OpenForReading(logPath, &file);
    if (result != NULL || file == NULL)
        return TellOfLog(FAILED_OTHERWISE, result != NULL ? result->code : ERROR_INVALID_HANDLE,
                         result);
    /* Known by identity, so that no spelling of it is ever moved aside. */
    BY_HANDLE_FILE_INFORMATION opened;
    LogIdentityKnown = CheckedGetFileInformationByHandle(file, &opened) == NULL;
    LogIdentity.volume = opened.dwVolumeSerialNumber;
    LogIdentity.indexHigh = opened.nFileIndexHigh;
    LogIdentity.indexLow = opened.nFileIndexLow;
    /* The probe keeps only the low 32 bits, so ask the open file as well. */
    LARGE_INTEGER actual;
    if (info.size < 0 || (GetFileSizeEx(file, &actual) && actual.QuadPart > 0x7FFFFFFF)) {
        CloseHandleKeepingError(file, NULL);
        return TellOfLog(FAILED_OTHERWISE, ERROR_FILE_TOO_LARGE,
                         RecordErrorCode(ERROR_FILE_TOO_LARGE, "ReadFile", "%s", logPath));
    }

    /* One byte more than the log, zero-filled: a last record without a line end
       is still terminated, and bytes the file no longer yields read as gaps. */
    size_t size = (size_t)info.size;
    char *block = (char *)calloc(size + 1, 1);
    ErrorRef readResult = NULL;
    if (block != NULL)
        readResult = ReadBlock(file, block, info.size);
    result = CloseHandleKeepingError(file, readResult);
    if (result != NULL || block == NULL)
        return TellOfLog(FAILED_OTHERWISE, result != NULL ? result->code : ERROR_NOT_ENOUGH_MEMORY,
                         result);

    /* Line ends stay apart from the other separators until the records are
       counted, so that the report can name each record's line. */
    for (size_t at = 0; at < size; at++) {
        if ((unsigned char)block[at] < 0x20)
            block[at] = EndsLine(block, size, at) ? '\n' : '\0';
    }
    /* Read before this run schedules anything, so that none of its own count. */
    EarlierDeletionsWaiting = CountEarlierDeletions(block, size);
    size_t at = 0, start, length, line = 1, lineStart = 0, counted = 0;
    while (NextRecord(block, size, &at, &start, &length)) {
        for (; counted < start; counted++) {
            if (block[counted] == '\n') {
                line++;
                lineStart = counted + 1;
            }
        }
        RecordReport report;
        memset(&report, 0, sizeof report);
        report.record = block + start;
        report.line = line;
        report.column = start - lineStart + 1;

        /* The record's terminator takes the place of the separator after it,
           which is counted first when it ends a line. */
        counted = start + length;
        if (counted < size && block[counted] == '\n') {
            line++;
            lineStart = counted + 1;
        }
        block[counted++] = '\0'; /* the block has a byte past the log's end */

        CarryOut(block + start, length, &report);
        if (RecordCarriedOut != NULL)
            RecordCarriedOut(&report);
    }
    FinishRestartRemovals();
    return NULL;
}
