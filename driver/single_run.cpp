/*
 * One uninstall at a time: the run holds a named mutex until it ends. An
 * administrator's or SYSTEM's run makes it in a private namespace that only
 * administrators can make, so that no standard user can hold it first; any
 * other run, and every run where the namespace calls are missing or fail, uses
 * one in Global\ (creating it needs no privilege, so anyone can, and a user
 * who makes it first turns such a run away with 1618). The two kinds do not
 * exclude each other. A silent run that finds the lock held ends with 1618,
 * which management tools retry; the wizard goes on as it always did.
 */
#include "driver/driver.h"

#include <sddl.h>

DWORD UninstallLockCode = 0; /* 0: held by this run; 1618: another run holds it; else why not */
HANDLE UninstallLock = NULL; /* the lock's mutex, open until the process ends; null when none */

static const char GLOBAL_LOCK_NAME[] = "Global\\Brenhow.Vorblend.Uninstall";
static const char NAMESPACE_ALIAS[] = "Brenhow.Vorblend";
static const char NAMESPACE_LOCK_NAME[] = "Brenhow.Vorblend\\Uninstall";
/* The namespace and the mutex in it: SYSTEM and Administrators only. */
static const char ADMINISTRATORS_ONLY[] = "D:P(A;;GA;;;SY)(A;;GA;;;BA)";

/* S-1-5-32-544 and S-1-16-12288 laid out as SIDs are: nothing to make at run time. */
static struct {
    BYTE revision, count;
    SID_IDENTIFIER_AUTHORITY authority;
    DWORD subAuthority[2];
} Administrators = {SID_REVISION, 2, {SECURITY_NT_AUTHORITY}, {32, 544}};
static struct {
    BYTE revision, count;
    SID_IDENTIFIER_AUTHORITY authority;
    DWORD subAuthority[1];
} HighIntegrity = {SID_REVISION, 1, {SECURITY_MANDATORY_LABEL_AUTHORITY}, {12288}};

/* Takes the mutex without waiting; its handle stays open, and the mutex held,
   until the process ends. */
static DWORD HoldMutex(const char *name, SECURITY_ATTRIBUTES *security, bool inNamespace)
{
    HANDLE lock = NULL;
    ErrorRef failure = CheckedCreateMutex(name, security, &lock);
    UninstallLock = lock;
    if (failure != NULL || lock == NULL) {
        DWORD code = failure != NULL ? failure->code : ERROR_INVALID_HANDLE;
        /* In the namespace only an administrator or SYSTEM can have made it.
           In Global\ a mutex this run may not open is no reason to stop:
           answering 1618 then would let any user block every removal. */
        return inNamespace && code == ERROR_ACCESS_DENIED ? ERROR_INSTALL_ALREADY_RUNNING : code;
    }
    /* Abandoned by a run that ended without letting go: this run has it now. */
    DWORD waited = WaitForSingleObject(lock, 0);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
        return 0;
    if (waited == WAIT_TIMEOUT)
        return ERROR_INSTALL_ALREADY_RUNNING;
    return GetLastError() != 0 ? GetLastError() : ERROR_INVALID_HANDLE;
}

/* Creates the namespace, or opens it when it exists. A creator that ends
   between the two takes the namespace with it (the open answers 2 or 3): then
   it is created again, three times at most. The handle is never closed. */
static DWORD EnterNamespace(const NamespaceCalls *calls, SECURITY_ATTRIBUTES *security)
{
    HANDLE boundary = NULL, space = NULL;
    ErrorRef failure = CheckedCreateBoundaryDescriptor(calls->createBoundaryDescriptor,
                                                       NAMESPACE_ALIAS, &boundary);
    if (failure == NULL)
        failure = CheckedAddSIDToBoundaryDescriptor(calls->addSIDToBoundaryDescriptor, &boundary,
                                                    &Administrators);
    /* Keeps a process of lower integrity from making the namespace first. */
    if (failure == NULL)
        failure = CheckedAddIntegrityLabelToBoundaryDescriptor(
            calls->addIntegrityLabelToBoundaryDescriptor, &boundary, &HighIntegrity);
    for (int creates = 1; failure == NULL && space == NULL; creates++) {
        failure = CheckedCreatePrivateNamespace(calls->createPrivateNamespace, security, boundary,
                                                NAMESPACE_ALIAS, &space);
        if (failure != NULL && failure->code == ERROR_ALREADY_EXISTS)
            failure = CheckedOpenPrivateNamespace(calls->openPrivateNamespace, boundary,
                                                  NAMESPACE_ALIAS, &space);
        if (failure != NULL && creates < 3 &&
            (failure->code == ERROR_FILE_NOT_FOUND || failure->code == ERROR_PATH_NOT_FOUND))
            failure = NULL;
    }
    return failure != NULL ? failure->code : 0;
}

DWORD TakeUninstallLock(const NamespaceCalls *calls)
{
    BOOL administrator = FALSE;
    bool namespaces = calls->createBoundaryDescriptor != NULL &&
                      calls->addSIDToBoundaryDescriptor != NULL &&
                      calls->addIntegrityLabelToBoundaryDescriptor != NULL &&
                      calls->createPrivateNamespace != NULL && calls->openPrivateNamespace != NULL;
    /* An enabled Administrators group, not elevation: an elevated Backup
       Operator is no administrator. */
    if (!namespaces || !calls->checkTokenMembership(NULL, &Administrators, &administrator) ||
        !administrator)
        return UninstallLockCode = HoldMutex(GLOBAL_LOCK_NAME, NULL, false);

    PSECURITY_DESCRIPTOR descriptor = NULL;
    DWORD code = ERROR_INVALID_HANDLE;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(ADMINISTRATORS_ONLY, SDDL_REVISION_1,
                                                             &descriptor, NULL)) {
        SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
        code = EnterNamespace(calls, &security);
        if (code == 0)
            code = HoldMutex(NAMESPACE_LOCK_NAME, &security, true);
        LocalFree(descriptor);
    }
    /* A namespace that cannot be had is as good as a missing one: going on
       without any lock would let two removals run at once. */
    if (code != 0 && code != ERROR_INSTALL_ALREADY_RUNNING)
        code = HoldMutex(GLOBAL_LOCK_NAME, NULL, false);
    return UninstallLockCode = code;
}

DWORD TakeUninstallLock()
{
    /* kernel32 is always loaded: no library is loaded to find the calls. */
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    NamespaceCalls calls = {
        CheckTokenMembership,
        (CreateBoundaryDescriptorCall)(void *)GetProcAddress(kernel, "CreateBoundaryDescriptorA"),
        (AddToBoundaryDescriptorCall)(void *)GetProcAddress(kernel, "AddSIDToBoundaryDescriptor"),
        (AddToBoundaryDescriptorCall)(void *)GetProcAddress(kernel,
                                                            "AddIntegrityLabelToBoundaryDescriptor"),
        (CreatePrivateNamespaceCall)(void *)GetProcAddress(kernel, "CreatePrivateNamespaceA"),
        (OpenPrivateNamespaceCall)(void *)GetProcAddress(kernel, "OpenPrivateNamespaceA"),
    };
    return TakeUninstallLock(&calls);
}
