/*
 * The three wizard pages and their sequence: introduction, confirmation with
 * Back, and completion, with the removal between the second and the third.
 */
#include "wizard/wizard.h"

#include "removal/removal.h"
#include "report/report.h"
#include "resources/resource_ids.h"

INT_PTR Prompt2Result; /* 0 for Continue, RESULT_BACK for Back */

/* Creates the page, fills its three texts, focuses its default button and runs
   the loop until the page's handler closes it. */
static ErrorRef RunPage(const char *templateName, WNDPROC handler, const int textIds[3],
                        const char *top, const char *middle, const char *bottom)
{
    ErrorRef failure = ShowPage(templateName, handler);
    if (failure != NULL)
        return failure;
    SetItemText(CurrentPage, textIds[0], top);
    SetItemText(CurrentPage, textIds[1], middle);
    SetItemText(CurrentPage, textIds[2], bottom);
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

ErrorRef ShowPrompt3(const char *top, const char *middle, const char *bottom)
{
    static const int ids[3] = {IDC_PROMPT3_TOP, IDC_PROMPT3_MIDDLE, IDC_PROMPT3_BOTTOM};
    return RunPage("Prompt3", Prompt3Handler, ids, top, middle, bottom);
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

int RunWizard(int argc, char **argv)
{
    INT_PTR outcome;
    do {
        ShowPrompt1("This program will remove Brenhow's Vorblend from your computer", "", "");
        outcome = ShowPrompt2("You are now ready to remove Vorblend.",
                              "Click on Continue to commence.", "");
    } while (outcome == RESULT_BACK);
    /* Removal needs the user's go-ahead: a confirmation page that could not be
       shown gave none, and nothing is removed or reported as complete. */
    if (outcome != 0)
        return 0;

    /* A report asked for with /LOG= covers the removal alone: created after the
       go-ahead, closed when it ends. Without one the wizard goes on as before. */
    if (argc > 1) {
        if (ReportPath != NULL)
            OpenReport(argv[1], false);
        ProcessRemovalLog(argv[1]);
        CloseReport(-1);
    }
    ShowPrompt3("", "The removal of Vorblend is now complete.", "Click on OK to finish this program");
    return 0;
}
