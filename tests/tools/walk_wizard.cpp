/*
 * walk_wizard.exe: walks the real uninstaller through one whole run for the
 * demonstration, taking a screenshot of each page on the way.
 *
 *   walk_wizard.exe UNINSTALL_EXE LOG_PATH SHOT_DIR
 *
 * It starts UNINSTALL_EXE with LOG_PATH, waits for each page, asks for
 * SHOT_DIR\page1.png (page2, page3) and presses Continue..., Continue and OK,
 * then waits for the uninstaller to end. It prints each step and the exit code,
 * and exits 0 when every page came, every screenshot was written and the
 * uninstaller ended with code 0; 1 otherwise. Its last line then reads "walk
 * succeeded" or "walk failed".
 *
 * Screenshots: for each page it creates SHOT_DIR\pageN.request and waits until
 * that file is gone. scripts/screenshot-watch serves the same folder from the
 * Linux side with ImageMagick's import on the Xvfb display: it writes
 * pageN.png, then removes the request. Run the watcher beside the walker, from
 * the source tree, with the walker inside Wine's virtual desktop so that the
 * pictures show the window caption (the watcher crops to that desktop):
 *
 *   eval "$(scripts/wine-session env build)"
 *   mkdir -p shots && scripts/screenshot-watch "$PWD/shots" 800x600+0+0 & watcher=$!
 *   /usr/lib/wine/wine64 explorer /desktop=vorblend,800x600 build/walk_wizard.exe \
 *       'C:\demo\Vorblend\uninstall.exe' 'C:\demo\install.log' \
 *       "$(/usr/lib/wine/wine64 winepath -w "$PWD/shots")" >walk.out 2>&1
 *   kill $watcher
 *
 * Wine's explorer passes the walker's output on but not its exit code, so the
 * walker also writes its report to SHOT_DIR\walk.log. Run without
 * "explorer /desktop=...", the exit code comes through and the pictures show
 * the whole 1024x768 screen without captions (leave out the watcher's crop).
 */
#include "support/wizard_driver.h"

#include <cstdarg>
#include <cstdio>
#include <string>

using namespace wizarddriver;

namespace {

FILE *Report; /* SHOT_DIR\walk.log, beside stdout */

void Say(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vprintf(format, arguments);
    va_end(arguments);
    fflush(stdout);
    if (Report != NULL) {
        va_start(arguments, format);
        vfprintf(Report, format, arguments);
        va_end(arguments);
        fflush(Report);
    }
}

int Failed()
{
    Say("walk failed\n");
    return 1;
}

struct Step {
    Page page;
    const char *name;
    int textId; /* the page's first text, shown in the report */
    const char *button;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: walk_wizard.exe UNINSTALL_EXE LOG_PATH SHOT_DIR\n");
        return 2;
    }
    std::string shots = argv[3];
    Report = fopen((shots + "\\walk.log").c_str(), "w");
    bool ok = true;

    std::string command = std::string("\"") + argv[1] + "\" \"" + argv[2] + "\"";
    Uninstaller run;
    if (!Start(command, run)) {
        Say("could not start %s (error %lu)\n", command.c_str(), GetLastError());
        return Failed();
    }
    Say("started %s\n", command.c_str());
    HWND frame = WaitForFrame(run);
    if (frame == NULL) {
        Say("no frame appeared\n");
        return Failed();
    }

    const Step steps[] = {
        {PAGE1, "page1", 1011, "Continue..."},
        {PAGE2, "page2", 1014, "Continue"},
        {PAGE3, "page3", 1019, "OK"},
    };
    for (const Step &step : steps) {
        HWND page = WaitForPage(frame, step.page);
        if (page == NULL) {
            Say("%s did not appear\n", step.name);
            return Failed();
        }
        Say("%s: \"%s\"\n", step.name, ItemText(page, step.textId).c_str());
        if (RequestScreenshot(frame, shots, step.name)) {
            Say("  screenshot %s\\%s.png\n", shots.c_str(), step.name);
        } else {
            Say("  no screenshot (is scripts/screenshot-watch serving %s?)\n", shots.c_str());
            ok = false;
        }
        Say("  pressing %s\n", ItemText(page, 1).c_str());
        Click(page, 1);
    }

    long exitCode = WaitForExit(run);
    Say("uninstaller exit code: %ld\n", exitCode);
    ok = ok && exitCode == 0;
    Say("walk %s\n", ok ? "succeeded" : "failed");
    if (Report != NULL)
        fclose(Report);
    return ok ? 0 : 1;
}
