/*
 * The folders that other programs and the system share: removing one, or the
 * tree below it, harms far more than the product. Judged by the spelling
 * alone, as the uninstaller reads it: any drive letter, ASCII case, slashes
 * and repeated or trailing separators aside; \\?\ and \\.\ before a drive
 * path spell the same folder.
 */
#include "logcheck/logcheck.h"

#include <string.h>

/* Below "X:", upper case, backslashes only. */
static const char *const BELOW_DRIVE[] = {
    "",
    "\\WINDOWS",
    "\\WINDOWS\\SYSTEM32",
    "\\WINDOWS\\SYSWOW64",
    "\\WINDOWS\\TEMP",
    "\\PROGRAM FILES",
    "\\PROGRAM FILES (X86)",
    "\\PROGRAMDATA",
    "\\PROGRAMDATA\\MICROSOFT\\WINDOWS\\START MENU",
    "\\PROGRAMDATA\\MICROSOFT\\WINDOWS\\START MENU\\PROGRAMS",
    "\\USERS",
    "\\DOCUMENTS AND SETTINGS",
};
static const char *const BELOW_DRIVE_NAMES[] = {
    "a drive's root X:\\",
    "X:\\Windows",
    "X:\\Windows\\System32",
    "X:\\Windows\\SysWOW64",
    "X:\\Windows\\Temp",
    "X:\\Program Files",
    "X:\\Program Files (x86)",
    "X:\\ProgramData",
    "the Start menu of all users",
    "the Start menu's Programs of all users",
    "X:\\Users",
    "X:\\Documents and Settings",
};

/* Below a profile "X:\Users\NAME" (Public included). */
static const char *const BELOW_PROFILE[] = {
    "",
    "\\APPDATA",
    "\\APPDATA\\ROAMING",
    "\\APPDATA\\LOCAL",
    "\\APPDATA\\LOCALLOW",
    "\\APPDATA\\LOCAL\\TEMP",
    "\\DESKTOP",
    "\\DOCUMENTS",
    "\\DOWNLOADS",
    "\\APPDATA\\ROAMING\\MICROSOFT\\WINDOWS\\START MENU",
    "\\APPDATA\\ROAMING\\MICROSOFT\\WINDOWS\\START MENU\\PROGRAMS",
};
static const char *const BELOW_PROFILE_NAMES[] = {
    "a user profile X:\\Users\\NAME",
    "a profile's AppData",
    "a profile's AppData\\Roaming",
    "a profile's AppData\\Local",
    "a profile's AppData\\LocalLow",
    "a profile's temporary folder",
    "a profile's Desktop",
    "a profile's Documents",
    "a profile's Downloads",
    "a profile's Start menu",
    "a profile's Start menu Programs",
};

static bool IsSeparator(char c) { return c == '\\' || c == '/'; }
static char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c; }

bool IsSharedFolder(const char *path, size_t length, const char **description,
                    const unsigned char *leadBytes)
{
    if (length >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
        (path[2] == '?' || path[2] == '.') && IsSeparator(path[3])) {
        path += 4;
        length -= 4;
    }
    bool letter = length >= 3 && ((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z'));
    if (!letter || path[1] != ':' || !IsSeparator(path[2]))
        return false;

    /* The part below "X:", folded: one backslash per run, none at the end. */
    char folded[PATH_BUFFER_SIZE];
    size_t used = 0;
    bool afterSeparator = false;
    for (size_t at = 2; at < length;) {
        size_t n = CharLength(path, at, length, leadBytes);
        if (n == 1 && IsSeparator(path[at]) && afterSeparator) {
            at++;
            continue;
        }
        if (used + n >= sizeof folded)
            return false; /* longer than any folder of the list */
        if (n == 2) {
            /* No folder of the list holds one: kept as it is, never folded. */
            folded[used++] = path[at];
            folded[used++] = path[at + 1];
            afterSeparator = false;
        } else if (IsSeparator(path[at])) {
            folded[used++] = '\\';
            afterSeparator = true;
        } else {
            folded[used++] = AsciiUpper(path[at]);
            afterSeparator = false;
        }
        at += n;
    }
    if (afterSeparator)
        used--;
    folded[used] = '\0';

    for (size_t i = 0; i < sizeof BELOW_DRIVE / sizeof BELOW_DRIVE[0]; i++) {
        if (strcmp(folded, BELOW_DRIVE[i]) == 0) {
            *description = BELOW_DRIVE_NAMES[i];
            return true;
        }
    }
    static const char USERS[] = "\\USERS\\";
    if (strncmp(folded, USERS, sizeof USERS - 1) != 0)
        return false;
    const char *name = folded + sizeof USERS - 1;
    const char *rest = name + FindFirstChar(name, strlen(name), '\\', leadBytes);
    if (rest == name)
        return false;
    for (size_t i = 0; i < sizeof BELOW_PROFILE / sizeof BELOW_PROFILE[0]; i++) {
        if (strcmp(rest, BELOW_PROFILE[i]) == 0) {
            *description = BELOW_PROFILE_NAMES[i];
            return true;
        }
    }
    return false;
}
