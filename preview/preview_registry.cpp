/*
 * The key: records on the live registry: the item split by the uninstaller's
 * own reading, a value judged by the open its deletion makes (all access),
 * a key by its subkeys left at its turn and by an open with delete access.
 * Every key opened here is closed again unused.
 */
#include "preview/preview.h"

#include <stdlib.h>
#include <string.h>

const size_t KEY_TEXT_SIZE = 1024;

static const char *RootLabel(RegistryRoot root)
{
    static const char *const LABELS[] = {"", "HKCR", "HKCU", "HKLM", "HKU", "HKCC"};
    return LABELS[root];
}

/* "HKCU\KEY\PATH" in upper case: the sets' key for a registry key. */
static void KeyKey(RegistryRoot root, const char *keyPath, char *key, size_t size)
{
    char text[KEY_TEXT_SIZE];
    snprintf(text, sizeof text, "%s\\%s", RootLabel(root), keyPath);
    if (LCMapStringA(LOCALE_INVARIANT, LCMAP_UPPERCASE, text, -1, key, (int)size) == 0)
        snprintf(key, size, "%s", text);
}

/* Deleted by an earlier record, itself or a key above it. */
static bool IsKeyGone(const Preview *preview, RegistryRoot root, const char *keyPath)
{
    char key[KEY_TEXT_SIZE];
    KeyKey(root, keyPath, key, sizeof key);
    return NameSetHasOrAbove(&preview->goneKeys, key, strlen(RootLabel(root)) + 1);
}

static void PreviewValue(Preview *preview, size_t record, const char *item, RegistryRoot root,
                         const char *keyPath, const char *valueName)
{
    HKEY rootKey = PredefinedKey(root);
    /* A value name may be far longer than a key name; in a DBCS code page its
       upper case takes at most two bytes a character. */
    size_t nameLength = strlen(valueName), size = KEY_TEXT_SIZE + 1 + 2 * nameLength + 1;
    char *valueKey = (char *)malloc(size);
    if (valueKey == NULL)
        return;
    KeyKey(root, keyPath, valueKey, KEY_TEXT_SIZE);
    size_t used = strlen(valueKey);
    valueKey[used++] = '\x01'; /* no record can hold a control character */
    if (LCMapStringA(LOCALE_INVARIANT, LCMAP_UPPERCASE, valueName, -1, valueKey + used,
                     (int)(size - used)) == 0)
        memcpy(valueKey + used, valueName, nameLength + 1);

    bool there = false;
    HKEY key = NULL;
    LONG code = RegOpenKeyExA(rootKey, keyPath, 0, KEY_QUERY_VALUE, &key);
    if (code == ERROR_SUCCESS) {
        there = RegQueryValueExA(key, valueName, NULL, NULL, NULL, NULL) != ERROR_FILE_NOT_FOUND;
        RegCloseKey(key);
    } else {
        there = code != ERROR_FILE_NOT_FOUND; /* unreadable: the open below tells */
    }
    if (!there || IsKeyGone(preview, root, keyPath) || NameSetHas(&preview->goneValues, valueKey)) {
        AddLine(preview, record, NAMES_NOTHING, "'%s' names nothing here", item);
    } else if ((code = KeyAccessProbe(rootKey, keyPath, KEY_ALL_ACCESS)) == ERROR_FILE_NOT_FOUND) {
        /* The uninstaller opens the key with all access to delete one value. */
        AddLine(preview, record, NAMES_NOTHING, "'%s' names nothing here", item);
    } else if (code != ERROR_SUCCESS) {
        AddLine(preview, record, WILL_FAIL_ACCESS,
                "this run may not open the key of '%s' with all access (%ld, %s)", item, code,
                CodeName((DWORD)code));
    } else {
        NameSetAdd(&preview->goneValues, valueKey);
        AddLine(preview, record, WILL_REMOVE_VALUE, "will remove value '%s'", item);
    }
    free(valueKey);
}

/* "a, b (and N more)": the subkeys that no earlier record deletes. */
static size_t RemainingSubkeys(const Preview *preview, RegistryRoot root, const char *keyPath,
                               HKEY key, char *text, size_t size)
{
    size_t count = 0, used = 0;
    text[0] = '\0';
    char name[256], path[KEY_TEXT_SIZE];
    for (DWORD index = 0;; index++) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, index, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        snprintf(path, sizeof path, "%s\\%s", keyPath, name);
        if (IsKeyGone(preview, root, path))
            continue;
        if (count < 3 && used < size) {
            int written = snprintf(text + used, size - used, "%s%s", count == 0 ? "" : ", ", name);
            used += written > 0 ? (size_t)written : 0;
        }
        count++;
    }
    if (count > 3 && used < size)
        snprintf(text + used, size - used, " (and %lu more)", (unsigned long)(count - 3));
    return count;
}

static void PreviewKey(Preview *preview, size_t record, const char *item, RegistryRoot root,
                       const char *keyPath)
{
    HKEY rootKey = PredefinedKey(root);
    HKEY key = NULL;
    LONG code = RegOpenKeyExA(rootKey, keyPath, 0, KEY_ENUMERATE_SUB_KEYS, &key);
    if (code == ERROR_FILE_NOT_FOUND || IsKeyGone(preview, root, keyPath)) {
        if (code == ERROR_SUCCESS)
            RegCloseKey(key);
        AddLine(preview, record, NAMES_NOTHING, "'%s' names nothing here", item);
        return;
    }
    if (code == ERROR_SUCCESS) {
        char remaining[512];
        size_t count = RemainingSubkeys(preview, root, keyPath, key, remaining, sizeof remaining);
        RegCloseKey(key);
        /* A key is deleted only once it has no subkeys left. */
        if (count > 0) {
            AddLine(preview, record, WILL_FAIL_SUBKEYS,
                    "key '%s' keeps %lu subkey%s no earlier record deletes: %s; it will not be "
                    "deleted (5)",
                    item, (unsigned long)count, count == 1 ? "" : "s", remaining);
            return;
        }
    }
    code = KeyAccessProbe(rootKey, keyPath, DELETE);
    if (code != ERROR_SUCCESS) {
        AddLine(preview, record, WILL_FAIL_ACCESS, "this run may not delete key '%s' (%ld, %s)",
                item, code, CodeName((DWORD)code));
        return;
    }
    char gone[KEY_TEXT_SIZE];
    KeyKey(root, keyPath, gone, sizeof gone);
    NameSetAdd(&preview->goneKeys, gone);
    AddLine(preview, record, WILL_REMOVE_KEY, "will remove key '%s' with its values", item);
}

void PreviewRegistryItem(Preview *preview, size_t record, const char *item)
{
    size_t length = strlen(item);
    RegistryItemParts parts;
    if (!SplitRegistryItem(item, length, &parts, AnsiLeadBytes())) {
        AddLine(preview, record, PASSED_OVER,
                "registry item with fewer than two backslashes names nothing; passed over");
        return;
    }
    RegistryRoot root = RegistryRootFromName(item, parts.rootLength);
    if (root == ROOT_UNKNOWN) {
        AddLine(preview, record, WILL_FAIL_ROOT,
                "unknown root '%.*s': the registry call gets no key and fails (6)",
                (int)parts.rootLength, item);
        return;
    }
    char keyPath[KEY_TEXT_SIZE];
    snprintf(keyPath, sizeof keyPath, "%.*s", (int)parts.keyPathLength, item + parts.keyPath);
    if (parts.valueNameLength == 0)
        PreviewKey(preview, record, item, root, keyPath);
    else
        PreviewValue(preview, record, item, root, keyPath, item + parts.valueName);
}

/* The key and every subkey of it that stays. */
static size_t PrintLeftKey(Preview *preview, FILE *out, NameSet *reported, RegistryRoot root,
                           char *keyPath)
{
    char key[KEY_TEXT_SIZE];
    KeyKey(root, keyPath, key, sizeof key);
    if (NameSetHas(reported, key) || IsKeyGone(preview, root, keyPath))
        return 0;
    HKEY opened = NULL;
    if (RegOpenKeyExA(PredefinedKey(root), keyPath, 0, KEY_ENUMERATE_SUB_KEYS, &opened) !=
        ERROR_SUCCESS)
        return 0;
    NameSetAdd(reported, key);
    fprintf(out, "%s: will be left: %s\\%s\\\n", preview->log->name, RootLabel(root), keyPath);
    size_t left = 1, length = strlen(keyPath);
    char name[256];
    for (DWORD index = 0;; index++) {
        DWORD nameLength = sizeof name;
        if (RegEnumKeyExA(opened, index, name, &nameLength, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        if (length + 1 + nameLength >= KEY_TEXT_SIZE)
            continue;
        keyPath[length] = '\\';
        strcpy(keyPath + length + 1, name);
        left += PrintLeftKey(preview, out, reported, root, keyPath);
        keyPath[length] = '\0';
    }
    RegCloseKey(opened);
    return left;
}

size_t PrintLeftKeys(Preview *preview, FILE *out, NameSet *reported)
{
    const LogText *log = preview->log;
    size_t left = 0;
    for (size_t i = 0; i < log->recordCount; i++) {
        const LogRecord *record = &log->records[i];
        if (record->kind != RECORD_KEY)
            continue;
        const char *item = log->bytes + record->start + record->argument;
        RegistryItemParts parts;
        if (!SplitRegistryItem(item, record->length - record->argument, &parts, AnsiLeadBytes()) ||
            parts.valueNameLength != 0 || parts.keyPathLength == 0 ||
            parts.keyPathLength >= KEY_TEXT_SIZE)
            continue; /* values, root keys, and items that name nothing */
        RegistryRoot root = RegistryRootFromName(item, parts.rootLength);
        if (root == ROOT_UNKNOWN)
            continue;
        char keyPath[KEY_TEXT_SIZE];
        snprintf(keyPath, sizeof keyPath, "%.*s", (int)parts.keyPathLength, item + parts.keyPath);
        left += PrintLeftKey(preview, out, reported, root, keyPath);
    }
    return left;
}
