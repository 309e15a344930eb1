/*
 * Registry removal: one value, or one key, named as "ROOT\key\path\value" or
 * "ROOT\key\path\". The item text is cut in place for the call and restored
 * byte for byte before it returns.
 */
#include "removal/removal.h"

#include <string.h>

struct RootName {
    const char *name;
    int length;
    HKEY key;
};

static const RootName ROOT_NAMES[] = {
    {"HKEY_CLASSES_ROOT", 17, HKEY_CLASSES_ROOT},
    {"HKCR", 4, HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", 17, HKEY_CURRENT_USER},
    {"HKCU", 4, HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", 18, HKEY_LOCAL_MACHINE},
    {"HKLM", 4, HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", 10, HKEY_USERS},
    {"HKU", 3, HKEY_USERS},
    {"HKEY_CURRENT_CONFIG", 19, HKEY_CURRENT_CONFIG},
    {"HKCC", 4, HKEY_CURRENT_CONFIG},
};

HKEY RootKeyFromName(const char *text, int length)
{
    for (const RootName &root : ROOT_NAMES) {
        if (root.length == length && _strnicmp(root.name, text, (size_t)length) == 0)
            return root.key;
    }
    return NULL;
}

ErrorRef RemoveRegistryItem(char *item)
{
    char *first = strchr(item, '\\');
    if (first == NULL)
        return NULL;
    HKEY root = RootKeyFromName(item, (int)(first - item));
    char *keyPath = first + 1;
    char *last = strrchr(keyPath, '\\');
    if (last == NULL)
        return NULL; /* "ROOT\name" never names the root key itself */

    *last = '\0';
    ErrorRef result;
    const char *valueName = last + 1;
    if (*valueName == '\0') {
        result = CheckedRegDeleteKey(root, keyPath);
    } else {
        HKEY key = NULL;
        result = CheckedRegOpenKey(root, keyPath, 0, KEY_ALL_ACCESS, &key);
        if (result == NULL) {
            result = CheckedRegDeleteValue(key, valueName);
            ErrorRef closed = CheckedRegCloseKey(key);
            if (result == NULL)
                result = closed;
        }
    }
    *last = '\\';
    return result;
}
