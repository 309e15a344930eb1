/*
 * The static checks: every record judged as the uninstaller will read it,
 * with the same functions, then the log as a whole (order, repeats, encoding).
 * Each check has a stable name that CI jobs may grep for.
 */
#include "logcheck/logcheck.h"

#include <string.h>

const CheckDescription CHECKS[] = {
    {"unknown-kind", SEVERITY_ERROR, "a record that starts with no known kind is passed over"},
};
const size_t CHECK_COUNT = sizeof CHECKS / sizeof CHECKS[0];

static bool EndsWithUninstallExe(const char *path, size_t length)
{
    static const char NAME[] = "\\uninstall.exe";
    size_t nameLength = sizeof NAME - 1;
    return length >= nameLength && EqualIgnoringAsciiCase(path + length - nameLength, NAME, nameLength);
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
        if (EndsWithUninstallExe(argument, length) && length < size) {
            RecordArgument(log, candidate, path, size);
            *record = i;
            return true;
        }
    }
    return false;
}

void CheckLog(const LogText *log, const CheckOptions *, Findings *findings)
{
    for (size_t i = 0; i < log->recordCount; i++) {
        const LogRecord *record = &log->records[i];
        if (record->kind == RECORD_NONE)
            AddFinding(findings, record->start, SEVERITY_ERROR, "unknown-kind",
                       "record of no known kind is passed over");
    }
}
