/* The test session's first check of its Wine server: a folder is given a
 * descriptor that a Unix mode cannot express (owned by TrustedInstaller, a
 * protected DACL), the descriptor is read back whole, and the folder is
 * listed. A server that keeps no descriptors, or a file system without user
 * extended attributes, fails here, before any test runs.
 *
 *   round_trip.exe C:\folder      exit 0 when the server kept the descriptor */
#include <windows.h>
#include <sddl.h>
#include <stdio.h>
#include <string.h>

static const char WANTED[] =
    "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464G:SY"
    "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
static const SECURITY_INFORMATION PARTS =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

static int Fail(const char *what)
{
    printf("round trip: %s failed (%lu)\n", what, GetLastError());
    return 1;
}

int main(int argc, char **argv)
{
    PSECURITY_DESCRIPTOR wanted;
    char read_back[4096], pattern[MAX_PATH], *text;
    DWORD needed;
    WIN32_FIND_DATAA found;
    HANDLE find;
    int listed = 0;
    if (argc != 2 || strlen(argv[1]) > MAX_PATH - 3) return 2;
    if (!CreateDirectoryA(argv[1], NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
        return Fail("CreateDirectoryA");
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(WANTED, SDDL_REVISION_1, &wanted, NULL))
        return Fail("ConvertStringSecurityDescriptorToSecurityDescriptorA");
    if (!SetFileSecurityA(argv[1], PARTS | PROTECTED_DACL_SECURITY_INFORMATION, wanted))
        return Fail("SetFileSecurityA");
    if (!GetFileSecurityA(argv[1], PARTS, read_back, sizeof read_back, &needed))
        return Fail("GetFileSecurityA");
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(read_back, SDDL_REVISION_1, PARTS, &text, NULL))
        return Fail("ConvertSecurityDescriptorToStringSecurityDescriptorA");
    if (strcmp(text, WANTED) != 0) {
        printf("round trip: the server kept no descriptor\n  set  %s\n  read %s\n", WANTED, text);
        return 1;
    }
    snprintf(pattern, sizeof pattern, "%s\\*", argv[1]);
    find = FindFirstFileA(pattern, &found);
    if (find == INVALID_HANDLE_VALUE) return Fail("listing the folder");
    do listed++; while (FindNextFileA(find, &found));
    FindClose(find);
    if (listed < 2) return Fail("listing the folder");
    if (!RemoveDirectoryA(argv[1])) return Fail("RemoveDirectoryA");
    return 0;
}
