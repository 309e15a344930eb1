/*
 * The three wizard pages and their sequence: introduction, confirmation with
 * Back, and completion, with the removal between the second and the third.
 * Before the removal, the programs that keep its paths are named for the
 * user to close; page 3 says what stayed and what waits for the restart.
 */
#include "wizard/wizard.h"

#include "removal/records.h"
#include "removal/removal.h"
#include "report/report.h"
#include "resources/resource_ids.h"

#include <stdio.h>
#include <string.h>

INT_PTR Prompt2Result; /* 0 for Continue, RESULT_BACK for Back */

/* Creates the page, fills its three texts (fitted when paths are given),
   focuses its default button and runs the loop until the page's handler
   closes it. */
static ErrorRef RunPage(const char *templateName, WNDPROC handler, const int textIds[3],
                        const char *top, const char *middle, const char *bottom,
                        const char *const paths[3] = NULL)
{
    ErrorRef failure = ShowPage(templateName, handler);
    if (failure != NULL)
        return failure;
    const char *texts[3] = {top, middle, bottom};
    for (int i = 0; i < 3; i++) {
        if (paths == NULL)
            SetItemText(CurrentPage, textIds[i], texts[i]);
        else
            SetFittedText(CurrentPage, textIds[i], texts[i], paths, 3);
    }
    FocusItem(CurrentPage, IDC_CONTINUE);
    RunMessageLoop();
    return NULL;
}

ErrorRef ShowPrompt1(const char *top, const char *middle, const char *bottom)
{
    static const int ids[3] = {IDC_PROMPT1_TOP, IDC_PROMPT1_MIDDLE, IDC_PROMPT1_BOTTOM};
    return RunPage("Prompt1", Prompt1Handler, ids, top, middle, bottom);
}

/* 0 or RESULT_BACK; the creation failure's ErrorRef (a pointer, never 4) otherwise. */
INT_PTR ShowPrompt2(const char *top, const char *middle, const char *bottom)
{
    static const int ids[3] = {IDC_PROMPT2_TOP, IDC_PROMPT2_MIDDLE, IDC_PROMPT2_BOTTOM};
    ErrorRef failure = RunPage("Prompt2", Prompt2Handler, ids, top, middle, bottom);
    if (failure != NULL)
        return (INT_PTR)failure;
    return Prompt2Result;
}

ErrorRef ShowPrompt3(const char *top, const char *middle, const char *bottom,
                     const char *const paths[3])
{
    static const int ids[3] = {IDC_PROMPT3_TOP, IDC_PROMPT3_MIDDLE, IDC_PROMPT3_BOTTOM};
    return RunPage("Prompt3", Prompt3Handler, ids, top, middle, bottom, paths);
}

/* Only a control's command counts: its window comes in lParam. */
static int ControlCommand(UINT message, LPARAM lParam)
{
    return message == WM_COMMAND && lParam != 0;
}

LRESULT CALLBACK Prompt1Handler(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (ControlCommand(message, lParam)) {
        switch (LOWORD(wParam)) {
        case IDC_CONTINUE:
            ClosePage();
            return 0;
        case IDC_CANCEL:
            ConfirmStop(CurrentPage);
            return 0;
        }
    }
    return DefDlgProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK Prompt2Handler(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (ControlCommand(message, lParam)) {
        switch (LOWORD(wParam)) {
        case IDC_CONTINUE:
            ClosePage();
            Prompt2Result = 0;
            return 0;
        case IDC_BACK:
            ClosePage();
            Prompt2Result = RESULT_BACK;
            return 0;
        case IDC_CANCEL:
            ConfirmStop(CurrentPage);
            return 0;
        }
    }
    return DefDlgProcA(window, message, wParam, lParam);
}

/* No Cancel here: Escape's id 2 goes to the dialog manager and the page stays. */
LRESULT CALLBACK Prompt3Handler(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (ControlCommand(message, lParam) && LOWORD(wParam) == IDC_CONTINUE) {
        ClosePage();
        return 0;
    }
    return DefDlgProcA(window, message, wParam, lParam);
}

/* The box's text: the programs found (the user's own first: those are the
   ones to close), at most five, then the way on. Five lines of a name, a
   caption and a kind, and the rest, take less than BOX_TEXT bytes. */
static const size_t BOX_TEXT = 2560;
static void DescribeRunningPrograms(char *text)
{
    static const char *const NOT_TO_CLOSE[] = {"", " (a service)", " (Windows Explorer)",
                                               " (part of Windows)", " (another session's)"};
    size_t used = (size_t)snprintf(text, BOX_TEXT, "These programs use Vorblend's files:\n\n");
    size_t shown = 0;
    for (int ownFirst = 1; ownFirst >= 0; ownFirst--) {
        for (size_t i = 0; i < RunningProgramCount; i++) {
            const RunningProgram &program = RunningPrograms[i];
            if ((program.kind == PROGRAM_USER) != (ownFirst == 1) || shown++ >= 5)
                continue;
            const char *image = program.image;
            size_t length = strlen(image), at = FindLastChar(image, length, '\\', AnsiLeadBytes());
            used += (size_t)snprintf(text + used, BOX_TEXT - used, "%s%s%s%s\n",
                                     at < length ? image + at + 1 : image,
                                     program.title[0] != '\0' ? ": " : "", program.title,
                                     NOT_TO_CLOSE[program.kind]);
        }
    }
    if (shown > 5)
        used += (size_t)snprintf(text + used, BOX_TEXT - used, "and %lu more\n",
                                 (unsigned long)(shown - 5));
    snprintf(text + used, BOX_TEXT - used,
             "\nClose these programs, then click Try Again. Click Continue to remove Vorblend "
             "anyway: what they keep goes when Windows restarts, or stays.");
}

/* Names the programs that keep the log's paths until none is left or the
   user goes on; never ends one. IDCANCEL takes the user back to page 2. */
static int AskToCloseRunningPrograms(const char *logPath)
{
    static char text[BOX_TEXT];
    int answer = IDTRYAGAIN;
    while (answer == IDTRYAGAIN && FindRunningPrograms(logPath) > 0) {
        DescribeRunningPrograms(text);
        /* Escape and the close box answer Cancel. */
        answer = MessageBoxA(FrameWindow, text, "Uninstall",
                             MB_CANCELTRYCONTINUE | MB_ICONWARNING | MB_DEFBUTTON2);
    }
    return answer;
}

/* Page 3 says what the removal did: as always when everything went; else
   the first item that stayed and why, in the report's words, and how many
   more, or that the rest waits for the restart, which is then offered. */
static void ShowOutcome(bool reported)
{
    static const char FINISH[] = "Click on OK to finish this program";
    unsigned long failed = FailedRecords();
    if (failed == 0) {
        ShowPrompt3("",
                    WaitsForRestart() ? "Vorblend will be removed completely when Windows restarts."
                                      : "The removal of Vorblend is now complete.",
                    FINISH);
    } else {
        static char top[1024], bottom[MAX_PATH + 64];
        const char *paths[3];
        const char *first = FirstFailure(paths);
        if (failed > 1)
            snprintf(top, sizeof top, "%s, and %lu more.", first, failed - 1);
        else
            snprintf(top, sizeof top, "%s.", first);
        paths[2] = reported ? ReportPath : NULL;
        if (reported)
            snprintf(bottom, sizeof bottom, "The removal report lists each item: %s", ReportPath);
        ShowPrompt3(top, "Vorblend could not be removed completely.", reported ? bottom : FINISH,
                    paths);
    }
    if (WaitsForRestart())
        OfferRestart();
}

int RunWizard(int argc, char **argv)
{
    INT_PTR outcome;
    do {
        ShowPrompt1("This program will remove Brenhow's Vorblend from your computer", "", "");
        /* Cancel in the box of programs in use asks for the go-ahead again. */
        do
            outcome = ShowPrompt2("You are now ready to remove Vorblend.",
                                  "Click on Continue to commence.", "");
        while (outcome == 0 && argc > 1 && AskToCloseRunningPrograms(argv[1]) == IDCANCEL);
    } while (outcome == RESULT_BACK);
    /* Removal needs the user's go-ahead: a confirmation page that could not be
       shown gave none, and nothing is removed or reported as complete. */
    if (outcome != 0)
        return 0;

    /* A report asked for with /LOG= covers the removal alone: created after the
       go-ahead, closed when it ends. Without one the wizard goes on as before;
       either way page 3 needs every record's outcome. */
    bool reported = false;
    if (argc > 1) {
        CountRecords(argv[1]);
        reported = ReportPath != NULL && OpenReport(argv[1], false);
        ReportRunningPrograms();
        ProcessRemovalLog(argv[1]);
        CloseReport(-1);
    }
    ShowOutcome(reported);
    return 0;
}
