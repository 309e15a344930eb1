/*
 * The program's own file under any spelling: ModulePath's final path, looked
 * up once per ModulePath, and whether a path leads to it by identity.
 */
#include "driver/driver.h"

#include <string.h>

bool IsOwnPath(const char *path)
{
    static char own[MAX_PATH], from[MAX_PATH]; /* ModulePath's final path, and the ModulePath it is of */
    if (ModulePath[0] == '\0')
        return false;
    if (strcmp(from, ModulePath) != 0) {
        if (!FinalPathOf(ModulePath, own))
            return false;
        strcpy(from, ModulePath);
    }
    return LeadsByIdentity(path, own, AnsiLeadBytes());
}
