/*
 * Registry removal: one value, or one key, named as "ROOT\key\path\value" or
 * "ROOT\key\path\". The item text is cut in place for the call and restored
 * byte for byte before it returns.
 */
#include "removal/removal.h"
#include "removal/records.h"

#include <string.h>

/* The system's predefined keys, by the shared table's roots. */
HKEY RootKeyFromName(const char *text, int length)
{
    switch (RegistryRootFromName(text, length < 0 ? 0 : (size_t)length)) {
    case ROOT_CLASSES_ROOT:
        return HKEY_CLASSES_ROOT;
    case ROOT_CURRENT_USER:
        return HKEY_CURRENT_USER;
    case ROOT_LOCAL_MACHINE:
        return HKEY_LOCAL_MACHINE;
    case ROOT_USERS:
        return HKEY_USERS;
    case ROOT_CURRENT_CONFIG:
        return HKEY_CURRENT_CONFIG;
    case ROOT_UNKNOWN:
        break;
    }
    return NULL;
}

ErrorRef RemoveRegistryItem(char *item)
{
    RegistryItemParts parts;
    if (!SplitRegistryItem(item, strlen(item), &parts))
        return NULL; /* "ROOT" or "ROOT\name" never names the root key itself */
    HKEY root = RootKeyFromName(item, (int)parts.rootLength);
    char *keyPath = item + parts.keyPath;
    char *last = item + parts.valueName - 1;

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
