/*
 * What became of a record, in one vocabulary for the checker's preview (what
 * will happen) and the uninstaller's report (what did happen), and the shape
 * of the line that says so. No operating system here: the checker builds it
 * natively too, and the uninstaller links it without the checker.
 */
#pragma once

#include <stddef.h>

enum Outcome {
    WILL_REMOVE_FILE,
    WILL_REMOVE_FOLDER,
    WILL_REMOVE_LINK,
    WILL_REMOVE_TREE,
    WILL_REMOVE_VALUE,
    WILL_REMOVE_KEY,
    WILL_REMOVE_AT_RESTART, /* in use now: scheduled for deletion at the next restart */
    NAMES_NOTHING,
    DEFERRED,
    PASSED_OVER,
    REFUSED,
    WILL_FAIL_READ_ONLY,
    WILL_FAIL_ACCESS,
    WILL_FAIL_IN_USE,
    WILL_FAIL_NOT_EMPTY,
    WILL_FAIL_KIND,
    WILL_FAIL_SUBKEYS,
    WILL_FAIL_ROOT,
    TREE_STOPS,
    DEFERRED_WILL_FAIL,
    DEFERRED_NOT_HANDED, /* past the system's limit on the copy's command line: it stays */
    REDIRECTED, /* in a folder others may change, the entry leads elsewhere: it stays */
    /* Only a run tells these: the preview never predicts them. */
    FAILED_OTHERWISE, /* a system code that none of the above explains */
    KEPT_FOR_REPORT,  /* the report lies in it: the caller's file stays */
    OUTCOME_COUNT,
};

/* The preview's name: "will-remove-file". */
const char *OutcomeName(Outcome outcome);
/* The preview's verdict: everything but a removal, nothing named and a
   deferral the copy completes. */
bool IsFailure(Outcome outcome);
/* The report's name for the same outcome once it has happened: "removed-file". */
const char *ReportedOutcomeName(Outcome outcome);
/* The report's verdict: a failure makes a silent run end with 1603. A record
   passed over is no failure there, only a warning. */
bool IsReportedFailure(Outcome outcome);
/* "note", "warning" or "error", as the report files the outcome. */
const char *ReportedLevel(Outcome outcome);

/* Every diagnostic line, the checker's and the report's, has this shape:
   name, line, column, level, message, tag; no line end. */
#define DIAGNOSTIC_FORMAT "%s:%lu:%lu: %s: %s [%s]"
