/*
 * The choice of library search: the restricting call where the system has it,
 * the fallback where it does not.
 */
#include "driver/driver.h"
#include "support/test_support.h"

namespace {

DWORD FlagsPassed; /* what the stand-in for SetDefaultDllDirectories was given */

BOOL WINAPI SetDefaultStandIn(DWORD flags)
{
    FlagsPassed = flags;
    return TRUE;
}

} // namespace

TEST(RestrictLibrarySearch, UsesTheSystemFolderOnlyWhereTheCallExists)
{
    FlagsPassed = 0;
    EXPECT_EQ(LIBRARY_SEARCH_SYSTEM32, RestrictLibrarySearch(SetDefaultStandIn));
    EXPECT_EQ((DWORD)LOAD_LIBRARY_SEARCH_SYSTEM32, FlagsPassed);
}

TEST(RestrictLibrarySearch, WithoutTheCallEmptiesTheDllDirectory)
{
    char folder[MAX_PATH];
    ASSERT_TRUE(SetDllDirectoryA("C:\\windows"));
    EXPECT_EQ(LIBRARY_SEARCH_NO_CURRENT_FOLDER, RestrictLibrarySearch(NULL));
    EXPECT_EQ(0u, GetDllDirectoryA(sizeof folder, folder));
    SetDllDirectoryA(NULL);
}

TEST(RestrictLibrarySearch, FindsTheCallInKernel32)
{
    EXPECT_EQ(LIBRARY_SEARCH_SYSTEM32, RestrictLibrarySearch());
}
