/*
 * Where the log's plain text meets this system: the lead bytes of the ANSI
 * code page that listed names come in, the predefined key of a registry root,
 * and whether this run has an administrator's rights. The uninstaller (and its
 * report) and the checker's preview both ask here.
 */
#include "removal/removal.h"

const unsigned char *AnsiLeadBytes()
{
    static unsigned char leadBytes[256];
    static bool known = false;
    if (!known) {
        for (int byte = 0; byte < 256; byte++)
            leadBytes[byte] = IsDBCSLeadByteEx(CP_ACP, (BYTE)byte) ? 1 : 0;
        known = true;
    }
    return leadBytes;
}

HKEY PredefinedKey(RegistryRoot root)
{
    switch (root) {
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

bool RunsElevated()
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION elevation = {0};
    DWORD size = 0;
    bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
                    elevation.TokenIsElevated != 0;
    CloseHandle(token);
    return elevated;
}
