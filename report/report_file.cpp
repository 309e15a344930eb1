/*
 * Where the report is written. The uninstaller may run elevated or as SYSTEM
 * and the folder may be writable by others, so the report is created only as
 * a new file in a folder that is held open for the whole run (it cannot be
 * renamed or swapped meanwhile), with no link anywhere on the way to it, and
 * never over the log or the program itself. The report's file and the folders
 * above it are left in place by the removal, under any spelling.
 */
#include "report/report.h"
#include "driver/driver.h"
#include "removal/records.h"

#include <string.h>

HANDLE ReportFolder = NULL; /* the report's folder, held while the report is open; null when none */

static char ReportFullPath[MAX_PATH];  /* as the system reads the given path; "" when none */
static char ReportFinalPath[MAX_PATH]; /* the created file's own final path; "" when none */

/* The report would overwrite the log or the program: refused with this code. */
static const DWORD REPORT_OVER_OWN_FILE = ERROR_INVALID_PARAMETER;
/* A link, junction or mount point lies on the way to the report. */
static const DWORD REPORT_THROUGH_LINK = ERROR_CANT_ACCESS_FILE;

/* Whether two spellings of full paths are the same text, ASCII case aside. */
static bool SameText(const char *a, const char *b)
{
    size_t length = strlen(a);
    return length == strlen(b) && EqualIgnoringAsciiCase(a, b, length, AnsiLeadBytes());
}

/* The given path is the log or the program: by identity, not by spelling. */
static ErrorRef NamesOwnFile(const char *full, const char *logPath)
{
    FileIdentity there, own;
    DWORD code;
    if (!IdentityOf(full, true, &there, &code)) {
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return NULL; /* nothing there yet */
        return RecordErrorCode(code, "CreateFile", "%s", full);
    }
    const char *owns[] = {logPath, ModulePath};
    for (const char *ownPath : owns) {
        if (ownPath[0] != '\0' && IdentityOf(ownPath, false, &own, &code) &&
            SameIdentity(&there, &own))
            return RecordErrorCode(REPORT_OVER_OWN_FILE, "CreateFile", "%s", full);
    }
    return NULL;
}

/* Opens the report's folder for the run and checks that the system reaches it
   by the path it was given: a link above the file resolves elsewhere. */
static ErrorRef HoldFolder(const char *folder, char finalFolder[MAX_PATH])
{
    char longer[MAX_PATH];
    DWORD length;
    ErrorRef failure = CheckedGetLongPathName(folder, longer, sizeof longer, &length);
    if (failure != NULL)
        return failure;
    StripDevicePrefix(longer);
    /* Listing access only: a handle without data access takes no part in
       sharing, and without delete sharing nobody may rename the folder. */
    HANDLE held = INVALID_HANDLE_VALUE;
    failure = CheckedCreateFile(folder, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL, &held);
    if (failure != NULL || held == INVALID_HANDLE_VALUE)
        return failure != NULL ? failure : RecordErrorCode(ERROR_INVALID_HANDLE, "CreateFile", "%s", folder);
    failure = FinalPathOfHandle(held, finalFolder);
    if (failure == NULL && !SameText(finalFolder, longer))
        failure = RecordErrorCode(REPORT_THROUGH_LINK, "CreateFile", "%s", folder);
    if (failure != NULL) {
        CloseHandle(held);
        return failure;
    }
    ReportFolder = held;
    return NULL;
}

/* The new file must lie in the held folder under its own name; otherwise it
   goes again, through its own handle. */
static ErrorRef CheckCreated(HANDLE file, const char *finalFolder, const char *name)
{
    char expected[MAX_PATH];
    size_t folderLength = strlen(finalFolder);
    bool separator = EndsInChar(finalFolder, folderLength, '\\', AnsiLeadBytes());
    if (folderLength + 1 + strlen(name) >= sizeof expected)
        return RecordErrorCode(ERROR_FILENAME_EXCED_RANGE, "CreateFile", "%s", name);
    strcpy(expected, finalFolder);
    if (!separator)
        strcat(expected, "\\");
    strcat(expected, name);
    ErrorRef failure = FinalPathOfHandle(file, ReportFinalPath);
    if (failure == NULL && !SameText(ReportFinalPath, expected))
        failure = RecordErrorCode(REPORT_THROUGH_LINK, "CreateFile", "%s", expected);
    if (failure == NULL)
        return NULL;
    FILE_DISPOSITION_INFO gone = {TRUE};
    CheckedSetFileInformationByHandle(file, FileDispositionInfo, &gone, sizeof gone);
    ReportFinalPath[0] = '\0';
    return failure;
}

bool CreateReportFile(const char *path, const char *logPath, HANDLE *file)
{
    char full[MAX_PATH], folder[MAX_PATH], finalFolder[MAX_PATH];
    DWORD length;
    size_t name;
    *file = NULL;
    if (CheckedGetFullPathName(path, sizeof full, full, &length) != NULL)
        return false;
    size_t folderLength;
    if (!SplitFolderAndName(full, length, &folderLength, &name, AnsiLeadBytes())) {
        RecordErrorCode(ERROR_INVALID_NAME, "CreateFile", "%s", full);
        return false;
    }
    memcpy(folder, full, folderLength);
    folder[folderLength] = '\0';
    if (HoldFolder(folder, finalFolder) != NULL)
        return false;
    HANDLE created = INVALID_HANDLE_VALUE;
    bool made = NamesOwnFile(full, logPath) == NULL;
    if (made) {
        /* What stands at the name goes as itself, a link never followed; the
           new file is never reached through a link planted there since. */
        CheckedDeleteFile(full);
        made = CheckedCreateFile(full, GENERIC_WRITE | DELETE, FILE_SHARE_READ, NULL, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL,
                                 &created) == NULL &&
               created != INVALID_HANDLE_VALUE;
    }
    if (made && CheckCreated(created, finalFolder, full + name) != NULL) {
        CloseHandle(created);
        made = false;
    }
    if (!made) {
        ReleaseReportFolder();
        return false;
    }
    memcpy(ReportFullPath, full, sizeof full);
    *file = created;
    /* From now on the removal leaves the report and its folders in place. */
    KeepsForReport = KeepsReport;
    HoldsForReport = HoldsReport;
    return true;
}

void ReleaseReportFolder()
{
    if (ReportFolder != NULL)
        CheckedCloseHandle(ReportFolder);
    ReportFolder = NULL;
    ReportFullPath[0] = '\0';
    ReportFinalPath[0] = '\0';
    KeepsForReport = NULL;
    HoldsForReport = NULL;
}

bool KeepsReport(const char *path)
{
    if (ReportFullPath[0] == '\0')
        return false;
    return IsAtOrAbove(path, strlen(path), ReportFullPath, AnsiLeadBytes());
}

bool HoldsReport(const char *path)
{
    return ReportFinalPath[0] != '\0' && LeadsByIdentity(path, ReportFinalPath, AnsiLeadBytes());
}
