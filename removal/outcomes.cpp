/*
 * The one table of outcomes: the preview's name, the report's name and how
 * each side judges it. A row is added here, never in either program.
 */
#include "removal/outcomes.h"

struct OutcomeRow {
    const char *predicted;
    bool predictedFailure;
    const char *reported;
    const char *level; /* in the report */
};

static const OutcomeRow OUTCOMES[OUTCOME_COUNT] = {
    {"will-remove-file", false, "removed-file", "note"},
    {"will-remove-folder", false, "removed-folder", "note"},
    {"will-remove-link", false, "removed-link", "note"},
    {"will-remove-tree", false, "removed-tree", "note"},
    {"will-remove-value", false, "removed-value", "note"},
    {"will-remove-key", false, "removed-key", "note"},
    {"will-remove-at-restart", false, "at-restart", "note"},
    {"names-nothing", false, "names-nothing", "note"},
    {"deferred", false, "deferred", "note"},
    {"passed-over", true, "passed-over", "warning"},
    {"refused", true, "refused", "error"},
    {"will-fail-read-only", true, "failed-read-only", "error"},
    {"will-fail-access", true, "failed-access", "error"},
    {"will-fail-in-use", true, "failed-in-use", "error"},
    {"will-fail-not-empty", true, "failed-not-empty", "error"},
    {"will-fail-kind", true, "failed-kind", "error"},
    {"will-fail-subkeys", true, "failed-subkeys", "error"},
    {"will-fail-root", true, "failed-root", "error"},
    {"tree-stops", true, "tree-stopped", "error"},
    /* The copy runs after the report is closed: it can only say "deferred". */
    {"deferred-will-fail", true, "deferred", "note"},
    {"deferred-will-not-fit", true, "not-handed", "error"},
    {"redirected", true, "redirected", "error"},
    {"will-fail", true, "failed", "error"},
    {"kept-for-report", false, "kept-for-report", "note"},
};

const char *OutcomeName(Outcome outcome) { return OUTCOMES[outcome].predicted; }

bool IsFailure(Outcome outcome) { return OUTCOMES[outcome].predictedFailure; }

const char *ReportedOutcomeName(Outcome outcome) { return OUTCOMES[outcome].reported; }

const char *ReportedLevel(Outcome outcome) { return OUTCOMES[outcome].level; }

bool IsReportedFailure(Outcome outcome) { return OUTCOMES[outcome].level[0] == 'e'; }
