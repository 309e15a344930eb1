/*
 * The chain test: verdicts on descriptors written as SDDL, the walk up a real
 * path with real descriptors (the tests' Wine server keeps them), one entry of
 * it at a time replaced through the ReadFolder seam, and the real reader on
 * Wine's own folders, which it reports as owned by the Unix user.
 */
#include "removal/removal.h"
#include "support/test_support.h"

#include <sddl.h>

#include <map>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

const std::string Installer = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
const std::string Safe = "O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

PSECURITY_DESCRIPTOR FromSddl(const std::string &sddl)
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                     &descriptor, NULL)) << sddl;
    return descriptor;
}

/* What the fake reader says of a path; any path not given is read from the system. */
struct Link {
    DWORD attributes;
    std::string finalPath, sddl; /* "": the path itself */
};
std::map<std::string, Link> Links;
std::vector<std::string> Asked;

DWORD FakeRead(const char *path, FolderReport *report)
{
    Asked.push_back(path);
    if (!Links.count(path))
        return ReadFolderFromSystem(path, report);
    Link link = Links[path];
    report->attributes = link.attributes;
    lstrcpynA(report->finalPath, link.finalPath.empty() ? path : link.finalPath.c_str(), MAX_PATH);
    report->descriptor = FromSddl(link.sddl.empty() ? Safe : link.sddl);
    return 0;
}

/* Wine's SDDL makes no NULL DACL of "D:NO_ACCESS_CONTROL" and reads no "XA": made by hand. */
PSECURITY_DESCRIPTOR Altered(const std::string &sddl, int aceType)
{
    PSECURITY_DESCRIPTOR descriptor = FromSddl(sddl);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = NULL;
    ACE_HEADER *ace = NULL;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    if (aceType < 0)
        ((SECURITY_DESCRIPTOR_RELATIVE *)descriptor)->Dacl = 0; /* present, but null */
    else if (GetAce(dacl, 0, (void **)&ace))
        ace->AceType = (BYTE)aceType;
    return descriptor;
}

struct FakeReader {
    FakeReader() { ReadFolder = FakeRead; }
    ~FakeReader() { ReadFolder = ReadFolderFromSystem; Links.clear(); Asked.clear(); }
};

} // namespace

TEST(FolderIsTrusted, TrustsOnlySystemAdministratorsAndTrustedInstallerForEachPlace)
{
    const struct {
        const char *name;
        std::string sddl;
        bool holder, above, root;
    } cases[] = {
        {"C:\\ as shipped", "O:" + Installer + "D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)"
                            "(A;OICIIO;SDGXGWGR;;;AU)(A;;LC;;;AU)", false, false, true},
        {"a fresh data volume's root", "O:BAD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICIIO;GA;;;CO)"
                                       "(A;OICI;0x1200a9;;;BU)(A;CI;LC;;;BU)(A;CIIO;DC;;;BU)", false, false, true},
        {"made by an installer, owned by BA", "O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)", true, true, true},
        {"made by an installer, owned by SY", "O:SYD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)", true, true, true},
        {"owned by a user", "O:S-1-5-21-0-0-0-1000D:(A;;FA;;;SY)", false, false, false},
        {"Users may delete children", "O:BAD:(A;;FA;;;SY)(A;;0x40;;;BU)", false, false, false},
        {"Authenticated Users may re-permission", "O:SYD:(A;;WD;;;AU)", false, false, false},
        {"Users may add", "O:BAD:(A;;0x6;;;BU)", false, false, true},
        {"Users may write, mapped", "O:BAD:(A;;GW;;;BU)", false, false, true},
        {"an inherit-only entry", "O:BAD:(A;;FA;;;SY)(A;OICIIO;FA;;;WD)", true, true, true},
        {"a deny entry", "O:BAD:(A;;FA;;;SY)(D;;FA;;;WD)", true, true, true},
        {"no DACL", "O:BA", false, false, false},
        {"OWNER RIGHTS of a trusted owner", "O:BAD:(A;;FA;;;S-1-3-4)", true, true, true},
        {"Users may write attributes: a junction", "O:BAD:(A;;FA;;;SY)(A;;0x100;;;BU)", false, false, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PSECURITY_DESCRIPTOR descriptor = FromSddl(c.sddl);
        EXPECT_EQ(c.holder, FolderIsTrusted(descriptor, CHAIN_HOLDER));
        EXPECT_EQ(c.above, FolderIsTrusted(descriptor, CHAIN_ABOVE));
        EXPECT_EQ(c.root, FolderIsTrusted(descriptor, CHAIN_ROOT));
        LocalFree(descriptor);
    }
    EXPECT_FALSE(FolderIsTrusted(NULL, CHAIN_ROOT));
    for (PSECURITY_DESCRIPTOR odd : {Altered("O:BAD:(A;;FR;;;WD)", ACCESS_ALLOWED_CALLBACK_ACE_TYPE),
                                     Altered("O:BAD:(A;;FA;;;SY)", -1)}) {
        EXPECT_FALSE(FolderIsTrusted(odd, CHAIN_ROOT)); /* a callback entry, a NULL DACL */
        LocalFree(odd);
    }
}

TEST(ChainIsTrusted, WalksFromTheEntryToTheRootAndNeedsEveryLinkSound)
{
    FakeReader reader;
    const std::string box = InstalledSandbox("chain"), entry = box + "\\bin\\app.exe";
    MakeFiles(box, {"bin\\app.exe"});
    GiveTree(box, InstalledSddl);
    EXPECT_TRUE(ChainIsTrusted(entry.c_str()));
    EXPECT_EQ((std::vector<std::string>{entry, box + "\\bin", box, "C:\\Program Files", "C:\\"}), Asked);
    const DWORD LINK = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, DIR = FILE_ATTRIBUTE_DIRECTORY;
    std::string upper = box;
    CharUpperBuffA(upper.data(), (DWORD)upper.size());
    const std::string inherited = "O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)";
    const struct {
        const char *name;
        std::string path, entry; /* entry: "" for the program's */
        Link link;
        bool trusted;
    } cases[] = {
        {"the entry is a link", entry, "", {LINK, "", ""}, false},
        {"a folder is a link", "C:\\Program Files", "", {LINK, "", ""}, false},
        {"the root is a link", "C:\\", "", {LINK, "", ""}, false},
        {"another final path", box, "", {DIR, "C:\\Other\\Vorblend", ""}, false},
        {"another case", box, "", {DIR, upper, ""}, true},
        {"Users may add to a higher folder", "C:\\Program Files", "", {DIR, "", "O:BAD:(A;;0x6;;;BU)"}, false},
        {"Users may add to the root", "C:\\", "", {DIR, "", "O:BAD:(A;;0x6;;;BU)"}, true},
        {"the entry's own owner is a user", entry, "", {0, "", "O:S-1-5-21-0-0-0-1000D:"}, true},
        {"a folder entry others may change", box + "\\bin", box + "\\bin", {DIR, "", "O:BAD:(A;;FA;;;SY)(A;;0x100;;;BU)"}, false},
        {"a folder an installer made at the root", "C:\\Vorblend", "C:\\Vorblend", {DIR, "", inherited}, false},
        {"a file at the root a user owns", "C:\\v.txt", "C:\\v.txt", {0, "", "O:S-1-5-21-0-0-0-1000D:"}, false},
        {"the run's holding folder", "C:\\Vorblend-held-0", "C:\\Vorblend-held-0", {DIR, "", "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"}, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Links = {{c.path, c.link}};
        EXPECT_EQ(c.trusted, ChainIsTrusted((c.entry.empty() ? entry : c.entry).c_str()));
    }
    /* Code page 932: \x95\x5C is one character, its second byte no separator. */
    Links = {{"C:\\\x95\x5C\\app.exe", {0, "", ""}}, {"C:\\\x95\x5C", {DIR, "", ""}}};
    Asked.clear();
    EXPECT_TRUE(ChainIsTrustedIn("C:\\\x95\x5C\\app.exe", LeadBytesOfCodePage(932)));
    EXPECT_EQ((std::vector<std::string>{"C:\\\x95\x5C\\app.exe", "C:\\\x95\x5C", "C:\\"}), Asked);
    WipeTree(box);
    /* Nothing odd is read at all, and a look leaves the error record alone. */
    Asked.clear();
    ErrorRecord.code = 1234;
    for (const std::string &odd : std::vector<std::string>{"\\\\server\\share\\x", "\\\\?\\C:\\x", "x\\y", "C:x\\y", "C:\\",
                                  "C:\\x\\", "C:/x/y", "C:\\" + std::string(MAX_PATH, 'x')})
        EXPECT_FALSE(ChainIsTrusted(odd.c_str())) << odd;
    EXPECT_LE(Asked.size(), 2u); /* C:/x/y and C:\x\ are read once each, as the entry */
    EXPECT_EQ(1234u, ErrorRecord.code);
}

TEST(ReadFolderFromSystem, ReadsAWineFolderALinkAndNothingWhereNothingIs)
{
    std::string box = Sandbox("chain-read"), real = box + "\\real";
    MakeDirectory(real);
    ASSERT_TRUE(MakeFolderLink(box + "\\link", real));
    FolderReport report;
    ASSERT_EQ(0u, ReadFolderFromSystem(real.c_str(), &report));
    EXPECT_EQ((DWORD)FILE_ATTRIBUTE_DIRECTORY, report.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_EQ(0, lstrcmpiA(real.c_str(), report.finalPath)) << report.finalPath;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(report.descriptor, &control, &revision));
    EXPECT_TRUE(control & SE_SELF_RELATIVE);
    EXPECT_FALSE(FolderIsTrusted(report.descriptor, CHAIN_HOLDER)); /* Wine: the Unix user owns it */
    LocalFree(report.descriptor);
    /* Wine opens through a Unix link even so: the final path then tells. */
    ASSERT_EQ(0u, ReadFolderFromSystem((box + "\\link").c_str(), &report));
    EXPECT_TRUE((report.attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
                lstrcmpiA((box + "\\link").c_str(), report.finalPath) != 0);
    LocalFree(report.descriptor);
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, ReadFolderFromSystem((box + "\\absent").c_str(), &report));
    EXPECT_EQ(nullptr, report.descriptor);
    EXPECT_FALSE(ChainIsTrusted((real + "\\x").c_str()));
    EXPECT_TRUE(RemoveFolderLink(box + "\\link"));
    WipeTree(box);
}
