/*
 * logcheck: the command line. Checks each log named on it (or standard input
 * for "-") and prints findings, then a summary line per log. Exit status 0
 * with no errors, 1 with errors (or warnings under --werror), 2 for a usage
 * error or a log that cannot be read; with several logs the highest wins.
 */
#include "logcheck/logcheck.h"

#include <stdlib.h>
#include <string.h>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

static void PrintHelp()
{
    printf("usage: logcheck [--werror] [--uninstaller PATH] [--code-page N | --system] LOG...\n"
           "\n"
           "Checks removal logs as the Vorblend uninstaller reads them. LOG \"-\" reads\n"
           "standard input. Findings are printed as LOG:LINE:COLUMN: SEVERITY: MESSAGE [CHECK].\n"
           "\n"
           "  --werror           warnings count as errors for the exit status\n"
           "  --uninstaller PATH the uninstaller's own path; otherwise the first file:\n"
           "                     record ending in \\uninstall.exe\n"
           "  --code-page N      the log's code page, the ANSI code page of the machine it\n"
           "                     is for: 932, 936, 949, 950 (double-byte), 874 or 1250 to\n"
           "                     1258; default 1252\n"
           "  --system           preview what each record will do on this machine, in its\n"
           "                     own ANSI code page (Windows)\n"
           "  --help             this text\n"
           "\n"
           "Exit status: 0 no errors, 1 errors (or warnings under --werror), 2 usage\n"
           "error or a log that cannot be read.\n"
           "\n"
           "Checks:\n");
    for (size_t i = 0; i < CHECK_COUNT; i++)
        printf("  %-24s %-7s %s\n", CHECKS[i].name,
               CHECKS[i].severity == SEVERITY_ERROR ? "error" : "warning", CHECKS[i].summary);
}

static const char *Plural(size_t count) { return count == 1 ? "" : "s"; }

/* Checks one log; its exit status. */
static int CheckOneLog(const char *path, const CheckOptions *options, bool werror, bool preview,
                       const unsigned char *leadBytes)
{
    const char *name = strcmp(path, "-") == 0 ? "<stdin>" : path;
    char *bytes;
    size_t size;
    char reason[256];
    if (!ReadLogFile(path, &bytes, &size, reason, sizeof reason)) {
        fprintf(stderr, "logcheck: %s: %s\n", name, reason);
        return 2;
    }
    LogText log;
    if (!ParseLog(&log, name, bytes, size)) {
        fprintf(stderr, "logcheck: %s: out of memory\n", name);
        FreeLog(&log);
        free(bytes);
        return 2;
    }
    log.leadBytes = leadBytes;

    int status;
    if (preview) {
        status = PreviewOnSystem(&log, options, stdout);
    } else {
        Findings findings;
        memset(&findings, 0, sizeof findings);
        CheckLog(&log, options, &findings);
        PrintFindings(stdout, &log, &findings);
        printf("%s: %lu record%s%s, %lu error%s, %lu warning%s\n", name,
               (unsigned long)log.recordCount, Plural(log.recordCount),
               log.recordCount == 0 ? " (empty log: nothing will be removed)" : "",
               (unsigned long)findings.errors, Plural(findings.errors),
               (unsigned long)findings.warnings, Plural(findings.warnings));
        status = findings.errors > 0 || (werror && findings.warnings > 0) ? 1 : 0;
        FreeFindings(&findings);
    }
    FreeLog(&log);
    free(bytes);
    return status;
}

int main(int argc, char **argv)
{
#if defined(_WIN32)
    /* The same bytes as on Linux: lines end in LF only. */
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    CheckOptions options = {NULL};
    bool werror = false, preview = false, optionsEnded = false, codePageGiven = false;
    unsigned codePage = 1252;
    /* Options may stand anywhere before "--"; everything else names a log. */
    char **logs = (char **)calloc((size_t)argc + 1, sizeof(char *));
    int logCount = 0;
    for (int i = 1; i < argc && logs != NULL; i++) {
        const char *argument = argv[i];
        if (optionsEnded || argument[0] != '-' || strcmp(argument, "-") == 0) {
            logs[logCount++] = argv[i];
        } else if (strcmp(argument, "--") == 0) {
            optionsEnded = true;
        } else if (strcmp(argument, "--help") == 0 || strcmp(argument, "-h") == 0) {
            PrintHelp();
            free(logs);
            return 0;
        } else if (strcmp(argument, "--werror") == 0) {
            werror = true;
        } else if (strcmp(argument, "--system") == 0) {
            preview = true;
        } else if (strcmp(argument, "--uninstaller") == 0 && i + 1 < argc) {
            options.uninstaller = argv[++i];
        } else if (strcmp(argument, "--code-page") == 0 && i + 1 < argc) {
            char *end;
            unsigned long number = strtoul(argv[++i], &end, 10);
            if (*argv[i] < '0' || *argv[i] > '9' || *end != '\0' || number > 65535 ||
                !IsAnsiCodePage((unsigned)number)) {
                fprintf(stderr, "logcheck: --code-page %s: not an ANSI code page (932, 936, 949, "
                                "950, 874, 1250 to 1258)\n",
                        argv[i]);
                free(logs);
                return 2;
            }
            codePage = (unsigned)number;
            codePageGiven = true;
        } else {
            fprintf(stderr, "logcheck: %s: unknown option or missing value (see --help)\n", argument);
            free(logs);
            return 2;
        }
    }
    if (logCount == 0) {
        fprintf(stderr, "usage: logcheck [--werror] [--uninstaller PATH] [--code-page N | --system] "
                        "LOG... (see --help)\n");
        free(logs);
        return 2;
    }
    if (preview && codePageGiven) {
        fprintf(stderr, "logcheck: --system reads the log in this machine's own code page; "
                        "--code-page goes without it\n");
        free(logs);
        return 2;
    }
    const unsigned char *leadBytes = preview ? SystemLeadBytes() : LeadBytesOfCodePage(codePage);

    int status = 0;
    for (int i = 0; i < logCount; i++) {
        fflush(stdout);
        int logStatus = CheckOneLog(logs[i], &options, werror, preview, leadBytes);
        if (logStatus > status)
            status = logStatus;
    }
    free(logs);
    return status;
}
