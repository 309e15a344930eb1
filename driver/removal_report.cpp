/*
 * The removal report (/LOG=PATH): a header, one line per record in log order
 * in the checker's line shape, the clean-up copy's line and a summary, CR LF
 * line ends, paths in the bytes the log holds. It also counts what the records
 * did, which silent mode's exit code needs with or without a report. The
 * lines are kept in memory and written when the report is closed: a deferred
 * record's line names how many paths the copy gets, known only at the end.
 */
#include "driver/driver.h"
#include "removal/outcomes.h"
#include "removal/records.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char *ReportPath = NULL; /* /LOG=PATH as given; null when no report is asked for */
HANDLE ReportFile = NULL;      /* the report being written; null when none */

static const char LISTED_TOTAL = '\x01'; /* stands for the copy's count until it is known */

static struct {
    char fullPath[MAX_PATH];             /* the report's own path; "" when unknown */
    const char *logName;                 /* the log's path as given */
    bool silent;
    unsigned long counts[OUTCOME_COUNT]; /* records of each outcome */
    unsigned long records, failures;
    bool logMissing, logUnreadable;
    unsigned long listed;                /* paths listed for the copy after the last record */
    char *text;                          /* lines not yet written */
    size_t used, capacity;
    bool linesLost;                      /* memory ran out for a line */
} Report;

/* Appends one line and its CR LF to the lines kept for the report. */
static void AppendLine(const char *format, ...)
{
    if (ReportFile == NULL)
        return;
    va_list args;
    va_start(args, format);
    int needed = vsnprintf(NULL, 0, format, args);
    va_end(args);
    if (needed < 0)
        return;
    size_t wanted = Report.used + (size_t)needed + 3;
    if (wanted > Report.capacity) {
        size_t grown = Report.capacity == 0 ? 4096 : Report.capacity * 2;
        if (grown < wanted)
            grown = wanted;
        char *text = (char *)realloc(Report.text, grown);
        if (text == NULL) {
            Report.linesLost = true;
            return;
        }
        Report.text = text;
        Report.capacity = grown;
    }
    va_start(args, format);
    vsnprintf(Report.text + Report.used, Report.capacity - Report.used, format, args);
    va_end(args);
    Report.used += (size_t)needed;
    Report.text[Report.used++] = '\r';
    Report.text[Report.used++] = '\n';
}

/* Writes the kept lines, the copy's count in place of its stand-in. */
static void WriteLines(unsigned long listedTotal)
{
    char total[16];
    snprintf(total, sizeof total, "%lu", listedTotal);
    size_t start = 0;
    for (size_t at = 0; at <= Report.used; at++) {
        if (at < Report.used && Report.text[at] != LISTED_TOTAL)
            continue;
        DWORD written;
        if (at > start)
            CheckedWriteFile(ReportFile, Report.text + start, (DWORD)(at - start), &written, NULL);
        if (at < Report.used)
            CheckedWriteFile(ReportFile, total, (DWORD)strlen(total), &written, NULL);
        start = at + 1;
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
    /* The program may run elevated and the folder may be writable by others:
       whatever stands at the path goes first (a link as itself, never what it
       points at), and the report is a new file or none at all. */
    CheckedDeleteFile(ReportPath);
    HANDLE file = NULL;
    if (CheckedCreateFile(ReportPath, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, NULL, &file) != NULL ||
        file == INVALID_HANDLE_VALUE)
        return false;
    ReportFile = file;
    DWORD length = GetFullPathNameA(ReportPath, sizeof Report.fullPath, Report.fullPath, NULL);
    if (length == 0 || length >= sizeof Report.fullPath)
        Report.fullPath[0] = '\0';
    Report.logName = logPath;
    Report.silent = silent;
    AppendHeader();
    WriteLines(0);
    RecordCarriedOut = CountRecord;
    return true;
}

bool KeepsReport(const char *path)
{
    if (ReportFile == NULL || Report.fullPath[0] == '\0')
        return false;
    size_t length = strlen(path), full = strlen(Report.fullPath);
    length -= TrailingBackslashes(path, length, AnsiLeadBytes());
    return length > 0 && length <= full &&
           EqualIgnoringAsciiCase(path, Report.fullPath, length, AnsiLeadBytes()) &&
           (Report.fullPath[length] == '\0' || Report.fullPath[length] == '\\');
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

/* What the record did, in words; the argument as the log holds it. */
static void Describe(const RecordReport *report, const char *argument, RecordKind kind,
                     unsigned long listed, char *text, size_t size)
{
    char reason[256];
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
    case WILL_REMOVE_TREE: {
        const TreeTally &tree = report->tree;
        char kept[48] = "";
        if (tree.deferred > 0)
            snprintf(kept, sizeof kept, "; %lu left in place", tree.deferred);
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
    case DEFERRED:
        snprintf(text, size, "'%s' is kept for the clean-up copy (%lu of %c)", argument, listed,
                 LISTED_TOTAL);
        break;
    case PASSED_OVER:
        snprintf(text, size, "%s", kind == RECORD_KEY
                                       ? "registry item with fewer than two backslashes names "
                                         "nothing; passed over"
                                       : "record of no known kind passed over");
        break;
    case REFUSED:
        snprintf(text, size, "'%s' refused: %s (%lu, %s)", argument,
                 report->code == ERROR_INVALID_PARAMETER
                     ? "not a tree below a drive or share root"
                     : "the path does not fit the 260-byte buffer",
                 (unsigned long)report->code, reason);
        break;
    case TREE_STOPS: {
        const TreeTally &tree = report->tree;
        snprintf(text, size, "tree '%s' stopped at '%s' (%lu, %s): %lu file%s, %lu folder%s and "
                             "%lu link%s went before it; it, what is listed after it and every "
                             "folder above it stay",
                 argument, report->stoppedAt, (unsigned long)report->code, reason, tree.files,
                 Plural(tree.files), tree.folders, Plural(tree.folders), tree.links,
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
    AppendLine("%s: error: the log cannot be read (%lu, %s) [log-unreadable]", Report.logName,
               (unsigned long)report->code, SystemMessage(report->code, reason, sizeof reason));
}

void CountRecord(const RecordReport *report)
{
    if (report->record == NULL) {
        Report.logMissing |= report->outcome == NAMES_NOTHING;
        Report.logUnreadable |= report->outcome != NAMES_NOTHING;
        AppendLogLine(report);
        return;
    }
    Report.records++;
    Report.counts[report->outcome]++;
    Report.failures += IsReportedFailure(report->outcome) ? 1 : 0;
    Report.listed = ListedPaths();
    if (ReportFile == NULL)
        return;

    size_t length = strlen(report->record), at;
    RecordKind kind = RecordKindOf(report->record, length, &at);
    size_t size = length + MAX_PATH + 512;
    char *message = (char *)malloc(size);
    if (message == NULL) {
        Report.linesLost = true;
        return;
    }
    Describe(report, report->record + at, kind, Report.listed, message, size);
    AppendLine(DIAGNOSTIC_FORMAT, Report.logName, (unsigned long)report->line,
               (unsigned long)report->column, ReportedLevel(report->outcome), message,
               ReportedOutcomeName(report->outcome));
    free(message);
}

void ReportCleanupCopy(DWORD copyCode)
{
    if (Report.listed == 0)
        return;
    if (copyCode == 0) {
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

DWORD SilentExitCode(DWORD copyCode)
{
    if (Report.logMissing)
        return ERROR_UNKNOWN_PRODUCT;
    if (Report.logUnreadable || Report.failures > 0 || (Report.listed > 0 && copyCode != 0))
        return ERROR_INSTALL_FAILURE;
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
    AppendLine("");
    AppendLine("Summary: %lu record%s%s; %lu failed", Report.records, Plural(Report.records), counts,
               Report.failures);
    if (Report.linesLost)
        AppendLine("Some lines are missing: memory ran out");
    if (exitCode >= 0)
        AppendLine("Exit code: %ld", exitCode);
    WriteLines(Report.listed);
    CheckedCloseHandle(ReportFile);
    ReportFile = NULL;
    free(Report.text);
    Report.text = NULL;
    Report.capacity = 0;
}
