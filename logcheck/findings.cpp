/*
 * Findings, collected while the checks run and printed in log order in the
 * form compilers use, so that editors and CI jobs can read them.
 */
#include "logcheck/logcheck.h"
#include "removal/outcomes.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

void AddFinding(Findings *findings, size_t offset, Severity severity, const char *check,
                const char *format, ...)
{
    if (findings->count == findings->capacity) {
        size_t grown = findings->capacity == 0 ? 64 : findings->capacity * 2;
        Finding *items = (Finding *)realloc(findings->items, grown * sizeof(Finding));
        if (items == NULL)
            return; /* out of memory: the finding is lost, nothing else */
        findings->items = items;
        findings->capacity = grown;
    }
    va_list arguments;
    va_start(arguments, format);
    char text[1024];
    vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);

    Finding *finding = &findings->items[findings->count];
    finding->message = (char *)malloc(strlen(text) + 1);
    if (finding->message == NULL)
        return;
    strcpy(finding->message, text);
    finding->offset = offset;
    finding->sequence = findings->count;
    finding->severity = severity;
    finding->check = check;
    findings->count++;
    if (severity == SEVERITY_ERROR)
        findings->errors++;
    else
        findings->warnings++;
}

static int ByOffset(const void *a, const void *b)
{
    const Finding *left = (const Finding *)a, *right = (const Finding *)b;
    if (left->offset != right->offset)
        return left->offset < right->offset ? -1 : 1;
    return left->sequence < right->sequence ? -1 : (left->sequence > right->sequence ? 1 : 0);
}

void PrintFindings(FILE *out, const LogText *log, Findings *findings)
{
    if (findings->count == 0)
        return;
    qsort(findings->items, findings->count, sizeof(Finding), ByOffset);
    for (size_t i = 0; i < findings->count; i++) {
        const Finding *finding = &findings->items[i];
        size_t line, column;
        LineAndColumn(log, finding->offset, &line, &column);
        fprintf(out, DIAGNOSTIC_FORMAT "\n", log->name, (unsigned long)line, (unsigned long)column,
                finding->severity == SEVERITY_ERROR ? "error" : "warning", finding->message,
                finding->check);
    }
}

void FreeFindings(Findings *findings)
{
    for (size_t i = 0; i < findings->count; i++)
        free(findings->items[i].message);
    free(findings->items);
    memset(findings, 0, sizeof *findings);
}
