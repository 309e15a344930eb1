/*
 * The removal report (/LOG=PATH): where it may be written and how its file is
 * created safely, one line per record heard through the engine's
 * RecordCarriedOut, the clean-up copy's line and the summary, and the counts
 * that silent mode's exit code and the wizard's last page are made of, with
 * or without a report. Whoever opens the report tells the engine what the
 * run keeps in place for it.
 */
#pragma once

#include "removal/removal.h"

/* report_file.cpp */

extern HANDLE ReportFolder; /* the report's folder, held while the report is open; null when none */

/* Creates the report at path as a new file: its folder is held open first
   and must be reached without a link, and what stands at the name must not be
   the log or the program (by identity); it is deleted as itself. False, with
   nothing created and the failure recorded, when any of that fails. */
bool CreateReportFile(const char *path, const char *logPath, HANDLE *file);
/* Lets the folder go once the report is closed. */
void ReleaseReportFolder();
/* By spelling: the report's own path, or a folder above it. No system call. */
bool KeepsReport(const char *path);
/* By identity, for a path whose removal failed: the report's file or a folder
   above it under another spelling (forward slashes, short names, a link). */
bool HoldsReport(const char *path);

/* removal_report.cpp */

extern const char *ReportPath; /* /LOG=PATH as given; null when no report is asked for */
extern HANDLE ReportFile;      /* the report being written; null when none */

/* Counts each record's outcome and, with a report open, keeps its line. */
void CountRecord(const RecordReport *report);
/* Removes whatever stands at ReportPath (a link as itself), creates the report
   there as a new file and starts it with the header; then every record is
   counted. False, with nothing created, when that fails. */
bool OpenReport(const char *logPath, bool silent);
/* The copy's line: copyCode is LaunchCleanupCopy's answer. */
void ReportCleanupCopy(DWORD copyCode);
/* Every record is counted from now on, with or without a report; a run
   without one still names its log on the wizard's last page. */
void CountRecords(const char *logPath);
/* The records that failed (the report's errors), the log itself included
   when it could not be read. */
unsigned long FailedRecords();
/* Something of this run, or of an earlier one, is deleted at the next restart. */
bool WaitsForRestart();
/* The first failed record in the report's words (a stopped tree without its
   tallies), and in paths[0..1] the paths named in it (null or "" for none);
   "" when nothing failed. */
const char *FirstFailure(const char *paths[2]);
/* One line for each program that the last look found keeping a path of the log. */
void ReportRunningPrograms();
/* A silent run's code from what its records did, the copy's answer and what an
   earlier removal left waiting for the restart. */
DWORD SilentExitCode(DWORD copyCode);
/* Writes the summary (with the exit code, unless it is negative) and closes the report. */
void CloseReport(long exitCode);
