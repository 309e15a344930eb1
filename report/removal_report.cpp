/*
 * The removal report (/LOG=PATH): a header, one line per record in log order
 * in the checker's line shape, the clean-up copy's line and a summary, CR LF
 * line ends, paths in the bytes the log holds. It also counts what the records
 * did, which silent mode's exit code needs with or without a report. The
 * lines are kept in memory and written when the report is closed: a deferred
 * record's line names how many paths the copy gets, known only at the end.
 */
#include "report/report.h"
#include "driver/driver.h"
#include "removal/outcomes.h"
#include "removal/records.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char *ReportPath = NULL; /* /LOG=PATH as given; null when no report is asked for */
HANDLE ReportFile = NULL;      /* the report being written; null when none */

/* Stands in the kept lines for the next path listed for the copy: its line
   is written once the copy's command line is known. */
static const char LISTED_PATH = '\x01';

struct ListedPath {
    unsigned long line, column; /* of the record that listed it */
    bool ownLine;               /* the record's own line (a deferral), not one of a tree's paths */
};

static struct {
    const char *logName;                 /* the log's path as given */
    bool silent;
    unsigned long counts[OUTCOME_COUNT]; /* records of each outcome */
    unsigned long records, failures;
    bool logMissing, logUnreadable;
    unsigned long listed;                /* paths listed for the copy after the last record */
    ListedPath *listedFrom;              /* where each listed path came from */
    size_t listedCapacity;
    unsigned long handed;                /* paths the started copy got; every listed one until known */
    char *scheduled;                     /* a tree's entries at the restart: path, held name, ... */
    size_t scheduledUsed, scheduledCapacity;
    char *text;                          /* lines not yet written */
    size_t used, capacity;
    bool linesLost;                      /* memory ran out for a line */
    char *firstFailure;                  /* the first failed record in the report's words */
    const char *failedPaths[2];          /* the paths named in it */
    char stoppedAt[MAX_PATH];            /* a stopped tree's entry, for failedPaths */
} Report;

/* Room for `more` bytes after the kept ones; false when memory ran out. */
static bool MakeRoom(size_t more)
{
    size_t wanted = Report.used + more;
    if (wanted > Report.capacity) {
        size_t grown = Report.capacity == 0 ? 4096 : Report.capacity * 2;
        if (grown < wanted)
            grown = wanted;
        char *text = (char *)realloc(Report.text, grown);
        if (text == NULL) {
            Report.linesLost = true;
            return false;
        }
        Report.text = text;
        Report.capacity = grown;
    }
    return true;
}

/* Appends one line and its CR LF to the lines kept for the report. */
static void AppendLine(const char *format, ...)
{
    if (ReportFile == NULL)
        return;
    va_list args;
    va_start(args, format);
    int needed = vsnprintf(NULL, 0, format, args);
    va_end(args);
    if (needed < 0 || !MakeRoom((size_t)needed + 3))
        return;
    va_start(args, format);
    vsnprintf(Report.text + Report.used, Report.capacity - Report.used, format, args);
    va_end(args);
    Report.used += (size_t)needed;
    Report.text[Report.used++] = '\r';
    Report.text[Report.used++] = '\n';
}

static void NoteEntryAtRestart(const char *path, const char *held);
static void DescribeAtRestart(const char *path, const char *held, char *text, size_t size);

static void WriteText(const char *text, size_t length)
{
    DWORD written;
    if (length > 0)
        CheckedWriteFile(ReportFile, text, (DWORD)length, &written, NULL);
}

/* The line of the listed path at `index`: a deferral's own line, or for a
   path of a tree only when the copy did not get it. */
static void WriteListedLine(unsigned long index, const char *path, size_t length)
{
    if (index >= Report.listed || Report.listedFrom == NULL)
        return;
    const ListedPath &from = Report.listedFrom[index];
    bool handed = index < Report.handed;
    if (handed && !from.ownLine)
        return;
    size_t size = strlen(Report.logName) + 2 * length + 640; /* the message, then the line */
    char *message = (char *)malloc(size);
    if (message == NULL)
        return;
    char *line = message + length + 256;
    if (handed)
        snprintf(message, length + 256, "'%.*s' is kept for the clean-up copy (%lu of %lu)",
                 (int)length, path, index + 1, Report.listed);
    else
        snprintf(message, length + 256,
                 "'%.*s' is not handed to the clean-up copy: its command line would pass the "
                 "system's limit of %lu characters, so it stays",
                 (int)length, path, (unsigned long)COMMAND_LINE_LIMIT);
    Outcome outcome = handed ? DEFERRED : DEFERRED_NOT_HANDED;
    snprintf(line, size - (length + 256), DIAGNOSTIC_FORMAT "\r\n", Report.logName, from.line,
             from.column, ReportedLevel(outcome), message, ReportedOutcomeName(outcome));
    WriteText(line, strlen(line));
    free(message);
}

/* Writes the kept lines, each listed path's line in place of its stand-in. */
static void WriteLines()
{
    size_t start = 0;
    unsigned long index = 0;
    const char *cursor = PendingRemovalList;
    for (size_t at = 0; at <= Report.used; at++) {
        if (at < Report.used && Report.text[at] != LISTED_PATH)
            continue;
        WriteText(Report.text + start, at - start);
        start = at + 1;
        if (at == Report.used)
            break;
        /* The stand-ins come in the order of the list: its next quoted path. */
        const char *open = cursor != NULL ? strchr(cursor, '"') : NULL;
        const char *close = open != NULL ? strchr(open + 1, '"') : NULL;
        if (close == NULL)
            continue;
        WriteListedLine(index++, open + 1, (size_t)(close - open - 1));
        cursor = close + 1;
    }
    Report.used = 0;
}

/* The system's message for the code on one line. */
static const char *SystemMessage(DWORD code, char *text, DWORD size)
{
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code, 0,
                       text, size, NULL) == 0)
        snprintf(text, size, "system error");
    text[size - 1] = '\0';
    for (char *c = text; *c != '\0'; c++) {
        if ((unsigned char)*c < 0x20)
            *c = ' ';
    }
    size_t length = strlen(text);
    while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '.'))
        text[--length] = '\0';
    return text;
}

static void AppendHeader()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    TIME_ZONE_INFORMATION zone;
    DWORD which = GetTimeZoneInformation(&zone);
    long bias = zone.Bias;
    if (which == TIME_ZONE_ID_DAYLIGHT)
        bias += zone.DaylightBias;
    else if (which == TIME_ZONE_ID_STANDARD)
        bias += zone.StandardBias;
    long east = -bias; /* the bias is what local time adds to reach UTC */
    char user[257] = "";
    DWORD userSize = sizeof user;
    if (!GetUserNameA(user, &userSize))
        snprintf(user, sizeof user, "unknown");

    AppendLine("Vorblend removal report");
    AppendLine("Product: Vorblend");
    AppendLine("Uninstaller: %s", ModulePath);
    AppendLine("Log: %s", Report.logName);
    AppendLine("Started: %04u-%02u-%02uT%02u:%02u:%02u%c%02ld:%02ld", now.wYear, now.wMonth,
               now.wDay, now.wHour, now.wMinute, now.wSecond, east < 0 ? '-' : '+',
               labs(east) / 60, labs(east) % 60);
    AppendLine("User: %s", user);
    AppendLine("Elevated: %s", RunsElevated() ? "yes" : "no");
    AppendLine("Mode: %s", Report.silent ? "silent" : "wizard");
    AppendLine("ANSI code page: %u (the paths below are bytes in it)", GetACP());
    AppendLine("");
}

bool OpenReport(const char *logPath, bool silent)
{
    HANDLE file;
    if (!CreateReportFile(ReportPath, logPath, &file))
        return false;
    ReportFile = file;
    Report.logName = logPath;
    Report.silent = silent;
    Report.handed = (unsigned long)-1;
    AppendHeader();
    if (UninstallLockCode != 0 && UninstallLockCode != ERROR_INSTALL_ALREADY_RUNNING) {
        char reason[256];
        AppendLine("%s: warning: the lock against a second uninstall at the same time could not be "
                   "taken (%lu, %s): this run goes on without it [lock-not-taken]",
                   logPath, (unsigned long)UninstallLockCode,
                   SystemMessage(UninstallLockCode, reason, sizeof reason));
    }
    WriteLines();
    RecordCarriedOut = CountRecord;
    TreeEntryAtRestart = NoteEntryAtRestart;
    return true;
}

/* Paths listed for the clean-up copy so far: each is quoted once. */
static unsigned long ListedPaths()
{
    unsigned long quotes = 0;
    for (const char *c = PendingRemovalList; c != NULL && *c != '\0'; c++)
        quotes += *c == '"' ? 1 : 0;
    return quotes / 2;
}

static const char *Plural(unsigned long count) { return count == 1 ? "" : "s"; }

/* What the record did, in words; the argument as the log holds it. *brief:
   how much of it is said on the wizard's last page (a tree's tallies are not). */
static void Describe(const RecordReport *report, const char *argument, RecordKind kind,
                     char *text, size_t size, size_t *brief)
{
    char reason[256];
    *brief = size;
    if (report->code != 0)
        SystemMessage(report->code, reason, sizeof reason);
    switch (report->outcome) {
    case WILL_REMOVE_FILE:
        snprintf(text, size, "removed file '%s'", argument);
        break;
    case WILL_REMOVE_FOLDER:
        snprintf(text, size, "removed empty folder '%s'", argument);
        break;
    case WILL_REMOVE_LINK:
        snprintf(text, size, "removed the folder link '%s' itself", argument);
        break;
    case WILL_REMOVE_AT_RESTART:
        DescribeAtRestart(argument, report->heldAt, text, size);
        break;
    case WILL_REMOVE_TREE: {
        const TreeTally &tree = report->tree;
        char kept[96] = "";
        if (tree.deferred + tree.kept > 0)
            snprintf(kept, sizeof kept, "; %lu left in place", tree.deferred + tree.kept);
        if (tree.atRestart > 0)
            snprintf(kept + strlen(kept), sizeof kept - strlen(kept), "; %lu at the next restart",
                     tree.atRestart);
        snprintf(text, size, "removed tree '%s': %lu file%s, %lu folder%s, %lu link%s%s", argument,
                 tree.files, Plural(tree.files), tree.folders, Plural(tree.folders), tree.links,
                 Plural(tree.links), kept);
        break;
    }
    case WILL_REMOVE_VALUE:
        snprintf(text, size, "removed value '%s'", argument);
        break;
    case WILL_REMOVE_KEY:
        snprintf(text, size, "removed key '%s' with its values", argument);
        break;
    case NAMES_NOTHING:
        snprintf(text, size, "'%s' named nothing", argument);
        break;
    case DEFERRED_NOT_HANDED:
        snprintf(text, size, "'%s' stays: memory ran out before it was listed for the clean-up copy",
                 argument);
        break;
    case PASSED_OVER:
        snprintf(text, size, "%s", kind == RECORD_KEY
                                       ? "registry item with fewer than two backslashes names "
                                         "nothing; passed over"
                                       : "record of no known kind passed over");
        break;
    case REFUSED: {
        const char *why = "the path does not fit the 260-byte buffer";
        if (EndsInLoneLeadByte(argument, strlen(argument), AnsiLeadBytes()))
            why = "the path ends in a lone lead byte, so the system would name another path";
        else if (report->code == ERROR_INVALID_PARAMETER)
            why = "not a tree below a drive or share root";
        snprintf(text, size, "'%s' refused: %s (%lu, %s)", argument, why,
                 (unsigned long)report->code, reason);
        break;
    }
    case TREE_STOPS: {
        const TreeTally &tree = report->tree;
        /* A running image fails with 5 like a denied deletion: the report says which. */
        bool inUse = IsInUse(report->stoppedAt, report->code);
        snprintf(text, size, "tree '%s' stopped at '%s'%s (%lu, %s)", argument, report->stoppedAt,
                 inUse ? ", in use" : "", (unsigned long)report->code, reason);
        *brief = strlen(text);
        snprintf(text + *brief, size - *brief, ": %lu file%s, %lu folder%s and %lu link%s went "
                                               "before it; it, what is listed after it and every "
                                               "folder above it stay",
                 tree.files, Plural(tree.files), tree.folders, Plural(tree.folders), tree.links,
                 Plural(tree.links));
        break;
    }
    case KEPT_FOR_REPORT:
        snprintf(text, size, "'%s' is left in place: the report lies there", argument);
        break;
    case WILL_FAIL_READ_ONLY:
        snprintf(text, size, "'%s' is read-only: not removed (%lu, %s)", argument,
                 (unsigned long)report->code, reason);
        break;
    case WILL_FAIL_KIND:
        snprintf(text, size, "'%s' is a %s: not removed as a %s (%lu, %s)", argument,
                 kind == RECORD_DIR ? "file" : "folder", kind == RECORD_DIR ? "folder" : "file",
                 (unsigned long)report->code, reason);
        break;
    case WILL_FAIL_NOT_EMPTY:
        snprintf(text, size, "folder '%s' is not empty: not removed (%lu, %s)", argument,
                 (unsigned long)report->code, reason);
        break;
    case WILL_FAIL_SUBKEYS:
        snprintf(text, size, "key '%s' keeps subkeys: not deleted (%lu, %s)", argument,
                 (unsigned long)report->code, reason);
        break;
    case WILL_FAIL_IN_USE:
        snprintf(text, size, "'%s' is in use by another program: not removed (%lu, %s)", argument,
                 (unsigned long)report->code, reason);
        break;
    case REDIRECTED: {
        /* A folder on the path changed under the run, into a link maybe. */
        const TreeTally &tree = report->tree;
        if (kind == RECORD_DIRW)
            snprintf(text, size, "tree '%s' stopped at '%s', which led elsewhere when it was to be "
                                 "deleted (%lu, %s): %lu file%s and %lu folder%s went before it; "
                                 "nothing outside the tree was touched",
                     argument, report->stoppedAt, (unsigned long)report->code, reason, tree.files,
                     Plural(tree.files), tree.folders, Plural(tree.folders));
        else
            snprintf(text, size, "'%s' led elsewhere when it was to be deleted: not removed, and "
                                 "nothing else was (%lu, %s)",
                     argument, (unsigned long)report->code, reason);
        break;
    }
    default:
        snprintf(text, size, "removing '%s' failed (%lu, %s)", argument,
                 (unsigned long)report->code, report->code != 0 ? reason : "no code");
        break;
    }
}

/* The log itself: no file at its path, or one that cannot be read. */
static void AppendLogLine(const RecordReport *report)
{
    if (report->outcome == NAMES_NOTHING) {
        AppendLine("%s: note: no file at the log's path: nothing is installed there to remove "
                   "[log-not-found]",
                   Report.logName);
        return;
    }
    char reason[256];
    SystemMessage(report->code, reason, sizeof reason);
    AppendLine("%s: error: the log cannot be read (%lu, %s) [log-unreadable]", Report.logName,
               (unsigned long)report->code, reason);
    size_t size = (Report.logName != NULL ? strlen(Report.logName) : 0) + 320;
    char *text = Report.logName != NULL && Report.firstFailure == NULL ? (char *)malloc(size) : NULL;
    if (text != NULL) {
        snprintf(text, size, "the log '%s' cannot be read (%lu, %s)", Report.logName,
                 (unsigned long)report->code, reason);
        Report.failedPaths[0] = Report.logName;
        Report.firstFailure = text;
    }
}

/* Keeps a tree entry scheduled for the restart until its record's line is written. */
static void NoteEntryAtRestart(const char *path, const char *held)
{
    size_t pathLength = strlen(path) + 1, heldLength = strlen(held) + 1;
    size_t wanted = Report.scheduledUsed + pathLength + heldLength;
    if (wanted > Report.scheduledCapacity) {
        size_t grown = wanted * 2;
        char *text = (char *)realloc(Report.scheduled, grown);
        if (text == NULL) {
            Report.linesLost = true;
            return;
        }
        Report.scheduled = text;
        Report.scheduledCapacity = grown;
    }
    memcpy(Report.scheduled + Report.scheduledUsed, path, pathLength);
    memcpy(Report.scheduled + Report.scheduledUsed + pathLength, held, heldLength);
    Report.scheduledUsed = wanted;
}

/* Where an entry goes at the restart, in words. */
static void DescribeAtRestart(const char *path, const char *held, char *text, size_t size)
{
    if (held[0] != '\0')
        snprintf(text, size, "'%s' is in use: moved to '%s', which is deleted at the next restart",
                 path, held);
    else
        snprintf(text, size, "'%s' cannot go while it is in use: it is deleted at the next restart, "
                             "where it stands", path);
}

/* The scheduled entries of the record just written, one line each. */
static void AppendEntriesAtRestart(const RecordReport *report)
{
    for (size_t at = 0; at < Report.scheduledUsed;) {
        const char *path = Report.scheduled + at, *held = path + strlen(path) + 1;
        at = (size_t)(held - Report.scheduled) + strlen(held) + 1;
        char message[3 * MAX_PATH];
        DescribeAtRestart(path, held, message, sizeof message);
        AppendLine(DIAGNOSTIC_FORMAT, Report.logName, (unsigned long)report->line,
                   (unsigned long)report->column, ReportedLevel(WILL_REMOVE_AT_RESTART), message,
                   ReportedOutcomeName(WILL_REMOVE_AT_RESTART));
    }
    Report.scheduledUsed = 0;
}

/* Notes where a path listed for the copy came from; its line is written at
   the end, once it is known whether the copy got it. */
static bool NoteListed(const RecordReport *report, bool ownLine)
{
    if (Report.listed >= Report.listedCapacity) {
        size_t grown = Report.listedCapacity == 0 ? 16 : Report.listedCapacity * 2;
        ListedPath *from = (ListedPath *)realloc(Report.listedFrom, grown * sizeof(ListedPath));
        if (from == NULL)
            return false;
        Report.listedFrom = from;
        Report.listedCapacity = grown;
    }
    ListedPath &from = Report.listedFrom[Report.listed];
    from.line = (unsigned long)report->line;
    from.column = (unsigned long)report->column;
    from.ownLine = ownLine;
    /* The stand-in writes its own line end, or no line at all. */
    if (!MakeRoom(1))
        return false;
    Report.text[Report.used++] = LISTED_PATH;
    return true;
}

void CountRecord(const RecordReport *report)
{
    if (report->record == NULL) {
        Report.logMissing |= report->outcome == NAMES_NOTHING;
        Report.logUnreadable |= report->outcome != NAMES_NOTHING;
        AppendLogLine(report);
        return;
    }
    Outcome outcome = report->outcome;
    unsigned long listed = ListedPaths(), before = Report.listed;
    if (outcome == DEFERRED && listed == before)
        outcome = DEFERRED_NOT_HANDED; /* the list could not grow: the copy never sees it */
    Report.records++;
    Report.counts[outcome]++;
    Report.failures += IsReportedFailure(outcome) ? 1 : 0;
    if (outcome != WILL_REMOVE_AT_RESTART)
        Report.counts[WILL_REMOVE_AT_RESTART] += report->tree.atRestart; /* a tree's entries */

    bool ownLine = outcome == DEFERRED && ReportFile != NULL;
    bool first = Report.firstFailure == NULL && IsReportedFailure(outcome);
    if ((ReportFile != NULL && !ownLine) || first) {
        size_t length = strlen(report->record), at;
        RecordKind kind = RecordKindOf(report->record, length, &at);
        size_t size = length + MAX_PATH + 512;
        char *message = (char *)malloc(size);
        size_t brief = 0;
        if (message == NULL) {
            Report.linesLost = true;
        } else {
            RecordReport told = *report;
            told.outcome = outcome;
            Describe(&told, report->record + at, kind, message, size, &brief);
            if (ReportFile != NULL && !ownLine)
                AppendLine(DIAGNOSTIC_FORMAT, Report.logName, (unsigned long)report->line,
                           (unsigned long)report->column, ReportedLevel(outcome), message,
                           ReportedOutcomeName(outcome));
        }
        /* Kept for the wizard's last page: the record's text lives as long as
           the log's block, which is never freed. */
        if (message != NULL && first) {
            if (brief < size)
                message[brief] = '\0';
            memcpy(Report.stoppedAt, report->stoppedAt, sizeof Report.stoppedAt);
            Report.failedPaths[0] = report->record + at;
            Report.failedPaths[1] = Report.stoppedAt;
            Report.firstFailure = message;
        } else {
            free(message);
        }
    }
    AppendEntriesAtRestart(report);
    for (; Report.listed < listed; Report.listed++) {
        if (ReportFile != NULL && !NoteListed(report, ownLine && Report.listed == before))
            Report.linesLost = true;
    }
}

/* Once the copy started: the listed paths its command line could not hold
   stay, each a failure of its own. */
static void CountPathsLeftOut()
{
    Report.handed = CleanupPathsHanded < Report.listed ? CleanupPathsHanded : Report.listed;
    for (unsigned long i = Report.handed; i < Report.listed; i++) {
        bool ownLine = Report.listedFrom != NULL && Report.listedFrom[i].ownLine;
        if (ownLine)
            Report.counts[DEFERRED]--;
        Report.counts[DEFERRED_NOT_HANDED]++;
        Report.failures++;
    }
}

void ReportCleanupCopy(DWORD copyCode)
{
    if (Report.listed == 0)
        return;
    if (copyCode == 0) {
        CountPathsLeftOut();
        if (Report.handed < Report.listed)
            AppendLine("%s: error: the clean-up copy started with %lu of the %lu paths: the others "
                       "do not fit its command line and stay [copy-started]",
                       Report.logName, Report.handed, Report.listed);
        else
            AppendLine("%s: note: the clean-up copy started with %lu path%s [copy-started]",
                       Report.logName, Report.listed, Plural(Report.listed));
        return;
    }
    char reason[256];
    AppendLine("%s: error: the clean-up copy did not start (%lu, %s): its %lu path%s stay "
               "[copy-not-started]",
               Report.logName, (unsigned long)copyCode, SystemMessage(copyCode, reason, sizeof reason),
               Report.listed, Plural(Report.listed));
}

void CountRecords(const char *logPath)
{
    Report.logName = logPath;
    RecordCarriedOut = CountRecord;
}

unsigned long FailedRecords()
{
    return Report.failures + (Report.logUnreadable ? 1 : 0);
}

bool WaitsForRestart()
{
    return Report.counts[WILL_REMOVE_AT_RESTART] > 0 || EarlierDeletionsWaiting > 0;
}

const char *FirstFailure(const char *paths[2])
{
    paths[0] = Report.failedPaths[0];
    paths[1] = Report.failedPaths[1];
    return Report.firstFailure != NULL ? Report.firstFailure : "";
}

void ReportRunningPrograms()
{
    for (size_t i = 0; i < RunningProgramCount; i++) {
        const RunningProgram &program = RunningPrograms[i];
        AppendLine("%s: warning: '%s' (process %lu) is running and keeps a path the log names "
                   "[program-running]",
                   Report.logName, program.image, (unsigned long)program.processId);
    }
}

DWORD SilentExitCode(DWORD copyCode)
{
    if (Report.logMissing)
        return ERROR_UNKNOWN_PRODUCT;
    if (Report.logUnreadable || Report.failures > 0 || (Report.listed > 0 && copyCode != 0) ||
        (copyCode == 0 && CleanupPathsHanded < Report.listed))
        return ERROR_INSTALL_FAILURE;
    /* Everything is gone or goes at the restart, this run's or an earlier
       one's that was stopped: the caller should restart. */
    if (Report.counts[WILL_REMOVE_AT_RESTART] > 0 || EarlierDeletionsWaiting > 0)
        return ERROR_SUCCESS_REBOOT_REQUIRED;
    return 0;
}

void CloseReport(long exitCode)
{
    if (ReportFile == NULL)
        return;
    char counts[OUTCOME_COUNT * 40] = "";
    size_t used = 0;
    for (int outcome = 0; outcome < OUTCOME_COUNT; outcome++) {
        /* The report's deferred stands for two of the preview's outcomes. */
        unsigned long count = Report.counts[outcome];
        if (count == 0 || outcome == DEFERRED_WILL_FAIL)
            continue;
        snprintf(counts + used, sizeof counts - used, ", %lu %s", count,
                 ReportedOutcomeName((Outcome)outcome));
        used += strlen(counts + used);
    }
    /* A run-wide line, like the copy's: no record of this log had that outcome. */
    if (EarlierDeletionsWaiting > 0)
        AppendLine("%s: note: an earlier removal waits for the restart: %lu pending deletion%s "
                   "[earlier-at-restart]",
                   Report.logName, EarlierDeletionsWaiting, Plural(EarlierDeletionsWaiting));
    AppendLine("");
    AppendLine("Summary: %lu record%s%s; %lu failed", Report.records, Plural(Report.records), counts,
               Report.failures);
    if (Report.linesLost)
        AppendLine("Some lines are missing: memory ran out");
    if (exitCode >= 0)
        AppendLine("Exit code: %ld", exitCode);
    WriteLines();
    CheckedCloseHandle(ReportFile);
    ReportFile = NULL;
    TreeEntryAtRestart = NULL;
    ReleaseReportFolder();
    free(Report.text);
    Report.text = NULL;
    Report.capacity = 0;
}
