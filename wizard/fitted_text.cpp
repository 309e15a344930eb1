/*
 * Page texts that name paths, fitted to their controls at run time: measured
 * in the control's own font against its client rectangle, so at any DPI, and
 * when too long, the paths in them shortened in their middle, at character
 * boundaries. The pages' statics lack SS_NOPREFIX: every & is doubled last.
 */
#include "wizard/wizard.h"

#include "removal/records.h"
#include "removal/removal.h"

#include <string.h>

size_t ShortenMiddle(const char *path, size_t length, size_t keep, char *out,
                     const unsigned char *leadBytes)
{
    if (length <= keep || keep < 5) {
        memcpy(out, path, length);
        return length;
    }
    /* Walked forward from the start: a trail byte cannot be told going back.
       The end, which names the file, gets the larger half. */
    size_t headBudget = (keep - 3) / 2, tailStart = length - (keep - 3 - headBudget);
    size_t head = 0, at = 0;
    while (at < tailStart) {
        at += CharLength(path, at, length, leadBytes);
        if (at <= headBudget)
            head = at;
    }
    memcpy(out, path, head);
    memcpy(out + head, "...", 3);
    memcpy(out + head + 3, path + at, length - at);
    return head + 3 + length - at;
}

/* The text with every path in it (the longest that starts at a place) cut
   to keep bytes; false, with as much as fits, when the buffer is too small. */
static bool Compose(const char *text, const char *const paths[], int count, size_t keep,
                    char *out, size_t size)
{
    const unsigned char *leadBytes = AnsiLeadBytes();
    size_t length = strlen(text), used = 0;
    for (size_t at = 0; at < length;) {
        size_t found = 0;
        for (int i = 0; i < count; i++) {
            size_t pathLength = paths[i] != NULL ? strlen(paths[i]) : 0;
            if (pathLength > found && strncmp(text + at, paths[i], pathLength) == 0)
                found = pathLength;
        }
        size_t step = found > 0 ? found : CharLength(text, at, length, leadBytes);
        if (used + step >= size) {
            out[used] = '\0';
            return false;
        }
        if (found > 0) {
            used += ShortenMiddle(text + at, found, keep, out + used, leadBytes);
        } else {
            memcpy(out + used, text + at, step);
            used += step;
        }
        at += step;
    }
    out[used] = '\0';
    return true;
}

void SetFittedText(HWND dialog, int id, const char *text, const char *const paths[], int count)
{
    static char shown[2048], doubled[2 * sizeof shown];
    HWND item = GetDlgItem(dialog, id);
    RECT client = {0, 0, 0, 0};
    GetClientRect(item, &client);
    /* gdi32 comes with user32; looked up, it leaves the import table to the
       four libraries that the clean-up copy finds on a bare machine. */
    typedef HGDIOBJ(WINAPI * SelectObjectCall)(HDC, HGDIOBJ);
    SelectObjectCall selectObject =
        (SelectObjectCall)(void *)GetProcAddress(GetModuleHandleA("gdi32.dll"), "SelectObject");
    HDC dc = GetDC(item);
    HGDIOBJ font = selectObject(dc, (HGDIOBJ)SendMessageA(item, WM_GETFONT, 0, 0));
    /* Measured as shown, without prefixes; a word wider than the control
       widens the rectangle, so the width is checked too. The first try keeps
       every path whole. */
    for (size_t keep = MAX_PATH;; keep--) {
        RECT needed = {0, 0, client.right, 0};
        bool composed = Compose(text, paths, count, keep, shown, sizeof shown);
        if (composed)
            DrawTextA(dc, shown, -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        if ((composed && needed.right <= client.right && needed.bottom <= client.bottom) || keep <= 8)
            break;
    }
    selectObject(dc, font);
    ReleaseDC(item, dc);
    /* No code page has & as the second byte of a character. */
    size_t used = 0;
    for (const char *c = shown; *c != '\0'; c++) {
        if (*c == '&')
            doubled[used++] = '&';
        doubled[used++] = *c;
    }
    doubled[used] = '\0';
    SetDlgItemTextA(dialog, id, doubled);
}
