/*
 * What a record's results mean for the report. A code alone does not always
 * tell the cause (5 is a read-only file, a denied deletion, a running image,
 * a file: that is a folder, or a key that keeps subkeys), so the entry or key
 * is looked at after the failure, as the preview looks before it. Only
 * failures are looked at.
 */
#include "removal/removal.h"
#include "removal/records.h"

#include <string.h>

Outcome EntryFailureOutcome(const char *path, DWORD code, bool folder)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return NAMES_NOTHING;
    case ERROR_FILENAME_EXCED_RANGE:
        return REFUSED;
    case ERROR_DIR_NOT_EMPTY:
        return WILL_FAIL_NOT_EMPTY;
    case ERROR_REDIRECTED_ENTRY:
        return REDIRECTED;
    case ERROR_DIRECTORY:
        return WILL_FAIL_KIND;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return WILL_FAIL_IN_USE;
    case ERROR_ACCESS_DENIED:
        break;
    default:
        return FAILED_OTHERWISE;
    }
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return WILL_FAIL_ACCESS;
    if (((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != folder)
        return WILL_FAIL_KIND;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        return WILL_FAIL_READ_ONLY;
    return !folder && IsInUse(path, code) ? WILL_FAIL_IN_USE : WILL_FAIL_ACCESS; /* a running image */
}

/* Whether the key, opened only to look, has subkeys. */
static bool HasSubkeys(HKEY root, const char *keyPath)
{
    HKEY key = NULL;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD subkeys = 0;
    LONG code = RegQueryInfoKeyA(key, NULL, NULL, NULL, &subkeys, NULL, NULL, NULL, NULL, NULL,
                                 NULL, NULL);
    RegCloseKey(key);
    return code == ERROR_SUCCESS && subkeys > 0;
}

Outcome RegistryOutcome(const char *item, ErrorRef result, DWORD *code)
{
    RegistryItemParts parts;
    if (!SplitRegistryItem(item, strlen(item), &parts, AnsiLeadBytes()))
        return PASSED_OVER;
    bool value = parts.valueNameLength > 0;
    if (result == NULL)
        return value ? WILL_REMOVE_VALUE : WILL_REMOVE_KEY;
    *code = result->code;
    if (result->code == ERROR_FILE_NOT_FOUND || result->code == ERROR_PATH_NOT_FOUND)
        return NAMES_NOTHING;
    RegistryRoot root = RegistryRootFromName(item, parts.rootLength);
    if (root == ROOT_UNKNOWN)
        return WILL_FAIL_ROOT;
    if (result->code != ERROR_ACCESS_DENIED)
        return FAILED_OTHERWISE;
    if (value)
        return WILL_FAIL_ACCESS;
    /* The key path, cut at the last backslash, in a buffer of its own. */
    char keyPath[1024];
    if (parts.keyPathLength >= sizeof keyPath)
        return WILL_FAIL_ACCESS;
    memcpy(keyPath, item + parts.keyPath, parts.keyPathLength);
    keyPath[parts.keyPathLength] = '\0';
    return HasSubkeys(PredefinedKey(root), keyPath) ? WILL_FAIL_SUBKEYS : WILL_FAIL_ACCESS;
}
