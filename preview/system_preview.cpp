/*
 * logcheck --system: walks the log's records in order on this machine as the
 * uninstaller will, then the clean-up copy's list, and prints one line or more
 * per record (with the static checks' findings for it), the count of each
 * outcome, and everything that will be left under the named folders and keys.
 */
#include "preview/preview.h"

#include <stdlib.h>
#include <string.h>

static void PreviewRecord(Preview *preview, size_t index)
{
    const LogText *log = preview->log;
    const LogRecord *record = &log->records[index];
    size_t length = record->length - record->argument;
    char *argument = (char *)malloc(length + 1);
    if (argument == NULL)
        return;
    RecordArgument(log, record, argument, length + 1);
    switch (record->kind) {
    case RECORD_FILE:
        PreviewFile(preview, index, argument, true);
        break;
    case RECORD_LINK:
        PreviewFile(preview, index, argument, false); /* shortcuts are never deferred */
        break;
    case RECORD_DIR:
        PreviewFolder(preview, index, argument);
        break;
    case RECORD_DIRW:
        PreviewTree(preview, index, argument);
        break;
    case RECORD_KEY:
        PreviewRegistryItem(preview, index, argument);
        break;
    case RECORD_NONE:
        AddLine(preview, index, PASSED_OVER, "record of no known kind is passed over");
        break;
    }
    free(argument);
}

static int ByRecord(const void *a, const void *b)
{
    const PreviewLine *left = (const PreviewLine *)a, *right = (const PreviewLine *)b;
    if (left->record != right->record)
        return left->record < right->record ? -1 : 1;
    return left->sequence < right->sequence ? -1 : (left->sequence > right->sequence ? 1 : 0);
}

static int ByOffset(const void *a, const void *b)
{
    const Finding *left = (const Finding *)a, *right = (const Finding *)b;
    if (left->offset != right->offset)
        return left->offset < right->offset ? -1 : 1;
    return left->sequence < right->sequence ? -1 : (left->sequence > right->sequence ? 1 : 0);
}

static void PrintAt(FILE *out, const LogText *log, size_t offset, const char *level,
                    const char *message, const char *tag)
{
    size_t line, column;
    LineAndColumn(log, offset, &line, &column);
    fprintf(out, DIAGNOSTIC_FORMAT "\n", log->name, (unsigned long)line, (unsigned long)column,
            level, message, tag);
}

static void PrintFinding(FILE *out, const LogText *log, const Finding *finding)
{
    PrintAt(out, log, finding->offset, finding->severity == SEVERITY_ERROR ? "error" : "warning",
            finding->message, finding->check);
}

/* Each record's own lines, with the static findings that point into it. */
static void PrintLines(FILE *out, const Preview *preview, const Findings *findings)
{
    const LogText *log = preview->log;
    size_t next = 0, line = 0;
    for (size_t i = 0; i < log->recordCount; i++) {
        const LogRecord *record = &log->records[i];
        while (next < findings->count && findings->items[next].offset < record->start)
            PrintFinding(out, log, &findings->items[next++]);
        for (; line < preview->lineCount && preview->lines[line].record == i; line++) {
            Outcome outcome = preview->lines[line].outcome;
            PrintAt(out, log, record->start, IsFailure(outcome) ? "error" : "note",
                    preview->lines[line].message, OutcomeName(outcome));
        }
        while (next < findings->count && findings->items[next].offset <= record->start + record->length)
            PrintFinding(out, log, &findings->items[next++]);
    }
    while (next < findings->count)
        PrintFinding(out, log, &findings->items[next++]);
}

static void FreePreview(Preview *preview)
{
    FreeNameSet(&preview->gonePaths);
    FreeNameSet(&preview->goneKeys);
    FreeNameSet(&preview->goneValues);
    FreeNameSet(&preview->keepScheduled);
    for (size_t i = 0; i < preview->deferredCount; i++)
        free(preview->deferred[i]);
    free(preview->deferred);
    free(preview->deferredRecord);
    for (size_t i = 0; i < preview->openCount; i++)
        free(preview->openFolders[i]);
    free(preview->openFolders);
    free(preview->openRecord);
    for (size_t i = 0; i < preview->lineCount; i++)
        free(preview->lines[i].message);
    free(preview->lines);
}

static const char *Plural(size_t count) { return count == 1 ? "" : "s"; }

const unsigned char *SystemLeadBytes() { return AnsiLeadBytes(); }

int PreviewOnSystem(const LogText *log, const CheckOptions *options, FILE *out)
{
    Preview *preview = (Preview *)calloc(1, sizeof(Preview));
    if (preview == NULL) {
        fprintf(stderr, "logcheck: %s: out of memory\n", log->name);
        return 2;
    }
    preview->log = log;
    size_t uninstallerRecord;
    preview->uninstallerKnown = FindUninstallerPath(log, options, preview->uninstaller,
                                                    sizeof preview->uninstaller, &uninstallerRecord);
    for (size_t i = 0; i < log->recordCount; i++)
        PreviewRecord(preview, i);
    PreviewCleanupCopy(preview);

    Findings findings;
    memset(&findings, 0, sizeof findings);
    CheckLog(log, options, &findings);
    if (findings.count > 0)
        qsort(findings.items, findings.count, sizeof(Finding), ByOffset);
    if (preview->lineCount > 0)
        qsort(preview->lines, preview->lineCount, sizeof(PreviewLine), ByRecord);
    PrintLines(out, preview, &findings);

    size_t counts[OUTCOME_COUNT] = {0}, failing = 0;
    for (size_t i = 0; i < preview->lineCount; i++) {
        counts[preview->lines[i].outcome]++;
        failing += IsFailure(preview->lines[i].outcome) ? 1 : 0;
    }
    fprintf(out, "%s: preview on this machine, %s: %lu record%s", log->name,
            RunsElevated() ? "elevated" : "not elevated", (unsigned long)log->recordCount,
            Plural(log->recordCount));
    const char *separator = ": ";
    for (int outcome = 0; outcome < OUTCOME_COUNT; outcome++) {
        if (counts[outcome] == 0)
            continue;
        fprintf(out, "%s%lu %s", separator, (unsigned long)counts[outcome],
                OutcomeName((Outcome)outcome));
        separator = ", ";
    }
    fprintf(out, "\n");
    if (preview->uninstallerKnown)
        fprintf(out, "%s: the uninstaller's own path: %s\n", log->name, preview->uninstaller);
    else
        fprintf(out, "%s: the uninstaller's own path is unknown: nothing is kept for the clean-up "
                     "copy in this preview\n",
                log->name);

    /* Where an elevated uninstaller deletes only on handles that lead where the log says. */
    for (size_t i = 0; i < preview->openCount; i++) {
        size_t line, column;
        LineAndColumn(log, log->records[preview->openRecord[i]].start, &line, &column);
        fprintf(out, "%s: open to others (line %lu): %s\\ and all below it\n", log->name,
                (unsigned long)line, preview->openFolders[i]);
    }
    NameSet reported;
    memset(&reported, 0, sizeof reported);
    size_t left = PrintLeftFiles(preview, out, &reported);
    left += PrintLeftKeys(preview, out, &reported);
    FreeNameSet(&reported);
    fprintf(out, "%s: %lu entr%s will be left, %lu line%s will fail or pass over, %lu error%s and "
                 "%lu warning%s from the checks\n",
            log->name, (unsigned long)left, left == 1 ? "y" : "ies", (unsigned long)failing,
            Plural(failing), (unsigned long)findings.errors, Plural(findings.errors),
            (unsigned long)findings.warnings, Plural(findings.warnings));

    int status = left > 0 || failing > 0 || findings.errors > 0 ? 1 : 0;
    FreeFindings(&findings);
    FreePreview(preview);
    free(preview);
    return status;
}
