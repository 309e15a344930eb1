/*
 * leave_marker.exe: a stand-in for someone else's program. Started, it writes
 * the empty file "<its own path>.started" and exits, so a test can tell that it ran.
 */
#include <windows.h>

int main()
{
    char path[MAX_PATH + 16];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    lstrcpyA(path + length, ".started");
    CloseHandle(CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL));
    return 0;
}
