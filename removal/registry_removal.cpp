/*
 * Registry removal: one value, or one key, named as "ROOT\key\path\value" or
 * "ROOT\key\path\". The item text is cut in place for the call and restored
 * byte for byte before it returns.
 */
#include "removal/removal.h"
#include "removal/records.h"

#include <string.h>

HKEY RootKeyFromName(const char *text, int length)
{
    return PredefinedKey(RegistryRootFromName(text, length < 0 ? 0 : (size_t)length));
}

ErrorRef RemoveRegistryItem(char *item)
{
    RegistryItemParts parts;
    if (!SplitRegistryItem(item, strlen(item), &parts, AnsiLeadBytes()))
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
