/*
 * The choice of lock, through stand-ins for the namespace calls (Wine has
 * none): the namespace stands as an object directory of its name among the
 * session's named objects, so the run's own CreateMutexA makes the mutex in it.
 * Each take runs on a thread of its own, which abandons what it took.
 */
#include "driver/driver.h"
#include "support/test_support.h"

#include <sddl.h>
#include <winternl.h>
#include <thread>
#include <vector>

extern "C" NTSTATUS NTAPI NtCreateDirectoryObject(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);

namespace {

const DWORD NO_CODE = 0xFFFFFFFF;   /* a failure that leaves the last error 0 */
std::vector<DWORD> Answers;         /* the namespace create's and open's answers in turn; 0: done */
int Creates;                        /* namespace creates asked for */
bool Administrator, LabelHigh;      /* the membership's answer; the boundary got S-1-16-12288 */
std::string NamespaceSddl;          /* the namespace's permissions */
HANDLE Directory;                   /* what the namespace stands as */

BOOL WINAPI Membership(HANDLE, PSID sid, BOOL *member)
{
    return *member = Administrator && IsWellKnownSid(sid, WinBuiltinAdministratorsSid), TRUE;
}
HANDLE WINAPI Boundary(LPCSTR, ULONG) { return (HANDLE)1; }
BOOL WINAPI AddSid(HANDLE *, PSID sid) { return IsWellKnownSid(sid, WinBuiltinAdministratorsSid); }
BOOL WINAPI AddLabel(HANDLE *, PSID sid) { return LabelHigh = IsWellKnownSid(sid, WinHighLabelSid); }
HANDLE WINAPI OpenSpace(void *, LPCSTR alias)
{
    DWORD code = Answers.empty() ? ERROR_GEN_FAILURE : Answers.front();
    Answers.erase(Answers.begin(), Answers.begin() + (Answers.empty() ? 0 : 1));
    SetLastError(code == NO_CODE ? 0 : code);
    return code == 0 && strcmp(alias, "Brenhow.Vorblend") == 0 ? Directory : NULL;
}
HANDLE WINAPI CreateSpace(SECURITY_ATTRIBUTES *security, void *, LPCSTR alias)
{
    char *sddl = NULL;
    ConvertSecurityDescriptorToStringSecurityDescriptorA(security->lpSecurityDescriptor, SDDL_REVISION_1,
                                                         DACL_SECURITY_INFORMATION, &sddl, NULL);
    NamespaceSddl = sddl != NULL ? sddl : "", LocalFree(sddl), Creates++;
    return OpenSpace(NULL, alias);
}

} // namespace

TEST(TakeUninstallLock, AnAdministratorsRunLocksInTheNamespaceWhateverHoldsTheGlobalName)
{
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    std::wstring path = L"\\Sessions\\" + std::to_wstring(session) + L"\\BaseNamedObjects\\Brenhow.Vorblend";
    UNICODE_STRING name = {USHORT(path.size() * 2), USHORT(path.size() * 2), &path[0]};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, 0, NULL, NULL);
    ASSERT_EQ(0, NtCreateDirectoryObject(&Directory, 0xF000F, &attributes));
    HANDLE inside = CreateMutexA(NULL, FALSE, "Brenhow.Vorblend\\Uninstall");
    HANDLE squatter = CreateMutexA(NULL, TRUE, "Global\\Brenhow.Vorblend.Uninstall");
    ASSERT_TRUE(inside != NULL && squatter != NULL);
    struct Case { const char *what; bool administrator, calls, heldInside; std::vector<DWORD> answers;
                  DWORD code; int creates; } cases[] = {
        {"created", true, true, false, {0}, 0, 1},
        {"opened", true, true, false, {183, 0}, 0, 1},
        {"creator gone, created again", true, true, false, {183, 2, 0}, 0, 2},
        /* A namespace that fails falls back to Global\, which the squatter holds. */
        {"gone three times", true, true, false, {183, 3, 183, 2, 183, 2}, 1618, 3},
        {"create refused", true, true, false, {5}, 1618, 1},
        {"open refused", true, true, false, {183, 5}, 1618, 1},
        {"failure without a code", true, true, false, {NO_CODE}, 1618, 1},
        {"held in the namespace", true, true, true, {0}, 1618, 1},
        {"calls missing: Global\\", true, false, false, {}, 1618, 0},
        {"no administrator: Global\\", false, true, false, {}, 1618, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Administrator = c.administrator, Answers = c.answers, Creates = 0, LabelHigh = false;
        NamespaceCalls calls = {Membership, Boundary, AddSid, AddLabel, CreateSpace, OpenSpace};
        if (!c.calls)
            calls.openPrivateNamespace = NULL;
        if (c.heldInside)
            WaitForSingleObject(inside, 0);
        DWORD code = 0;
        std::thread([&] { code = TakeUninstallLock(&calls); }).join();
        if (c.heldInside)
            ReleaseMutex(inside);
        EXPECT_TRUE(c.code == code && c.code == UninstallLockCode) << code << " " << UninstallLockCode;
        EXPECT_EQ(c.creates, Creates);
        EXPECT_EQ(c.creates > 0, LabelHigh);
        /* Abandoned only when the take held it as its thread ended. */
        EXPECT_EQ(c.code == 0 ? WAIT_ABANDONED : WAIT_OBJECT_0, WaitForSingleObject(inside, 0));
        ReleaseMutex(inside);
        CloseHandle(UninstallLock), UninstallLock = NULL; /* later tests make the Global\ one anew */
    }
    EXPECT_EQ("D:P(A;;GA;;;SY)(A;;GA;;;BA)", NamespaceSddl);
    ReleaseMutex(squatter);

    /* With Global\ free, the failed namespace's run holds it (its thread abandons it). */
    Administrator = true, Answers = {5};
    NamespaceCalls calls = {Membership, Boundary, AddSid, AddLabel, CreateSpace, OpenSpace};
    DWORD code = 1;
    std::thread([&] { code = TakeUninstallLock(&calls); }).join();
    EXPECT_EQ(0u, code);
    EXPECT_EQ(WAIT_ABANDONED, WaitForSingleObject(squatter, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(inside, 0));
    ReleaseMutex(squatter), ReleaseMutex(inside);
    CloseHandle(UninstallLock), UninstallLock = NULL;
    CloseHandle(squatter), CloseHandle(inside);
}
