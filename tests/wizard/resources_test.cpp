/*
 * The resources as they stand in the built uninstall.exe, read back through
 * the system's own resource calls: names, language, templates and icon.
 */
#include "resources/resource_ids.h"
#include "support/test_support.h"

#include <set>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

const WORD ENGLISH_US = 1033;
const DWORD BUTTON = 0x50010000;         /* WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON */
const DWORD DEFAULT_BUTTON = 0x50010001; /* ... | BS_DEFPUSHBUTTON */
const DWORD TEXT = 0x50020000;           /* WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT */

struct Control {
    int id;
    std::string className; /* "Button" or "Static" */
    std::string caption;
    DWORD style;
    short x, y, cx, cy;
};

struct Template {
    DWORD style, exStyle;
    short x, y, cx, cy;
    std::string menu, className, caption, face;
    WORD pointSize;
    std::vector<Control> controls;
};

/* A name or ordinal field: 0 none, 0xFFFF then an ordinal, else a string. */
std::string ReadField(const WORD *&p)
{
    if (*p == 0) {
        p++;
        return "";
    }
    if (*p == 0xFFFF) {
        WORD ordinal = p[1];
        p += 2;
        if (ordinal == 0x80)
            return "Button";
        if (ordinal == 0x82)
            return "Static";
        std::string number = "#";
        return number.append(std::to_string(ordinal));
    }
    std::string text;
    while (*p != 0)
        text += (char)*p++;
    p++;
    return text;
}

const WORD *AlignDword(const WORD *p) { return (const WORD *)(((ULONG_PTR)p + 3) & ~(ULONG_PTR)3); }

/* The standard template layout: a DLGTEMPLATE, its fields, then the items. */
Template Parse(const void *data)
{
    const DLGTEMPLATE *head = (const DLGTEMPLATE *)data;
    Template t;
    t.style = head->style;
    t.exStyle = head->dwExtendedStyle;
    t.x = head->x, t.y = head->y, t.cx = head->cx, t.cy = head->cy;
    const WORD *p = (const WORD *)(head + 1);
    t.menu = ReadField(p);
    t.className = ReadField(p);
    t.caption = ReadField(p);
    t.pointSize = 0;
    if (t.style & DS_SETFONT) {
        t.pointSize = *p++;
        t.face = ReadField(p);
    }
    for (int i = 0; i < head->cdit; i++) {
        p = AlignDword(p);
        const DLGITEMTEMPLATE *item = (const DLGITEMTEMPLATE *)p;
        Control c;
        c.style = item->style;
        EXPECT_EQ(0u, item->dwExtendedStyle);
        c.x = item->x, c.y = item->y, c.cx = item->cx, c.cy = item->cy;
        c.id = item->id;
        p = (const WORD *)(item + 1);
        c.className = ReadField(p);
        c.caption = ReadField(p);
        WORD extra = *p++;
        p = (const WORD *)((const BYTE *)p + extra);
        t.controls.push_back(c);
    }
    return t;
}

std::string Upper(std::string text)
{
    for (char &c : text)
        c = (char)toupper((unsigned char)c);
    return text;
}

class Resources : public ::testing::Test {
protected:
    HMODULE module = NULL;
    void SetUp() override
    {
        module = LoadLibraryExA(UninstallExe().c_str(), NULL,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_TRUE(module != NULL) << UninstallExe();
    }
    void TearDown() override { FreeLibrary(module); }

    const void *Find(const char *type, const char *name)
    {
        HRSRC found = FindResourceExA(module, type, name, ENGLISH_US);
        if (found == NULL)
            return NULL;
        return LockResource(LoadResource(module, found));
    }

    Template Dialog(const char *name)
    {
        const void *data = Find(RT_DIALOG, name);
        EXPECT_TRUE(data != NULL) << name;
        if (data == NULL)
            return Template();
        EXPECT_NE(0xFFFF, ((const WORD *)data)[1]) << name << " is an extended template";
        return Parse(data);
    }
};

BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR names)
{
    ((std::set<std::string> *)names)->insert(IS_INTRESOURCE(name) ? "#" : name);
    return TRUE;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR languages)
{
    ((std::set<WORD> *)languages)->insert(language);
    return TRUE;
}

void ExpectPage(const Template &t, const std::vector<Control> &controls)
{
    EXPECT_EQ((DWORD)(WS_CHILD | WS_VISIBLE | DS_SETFONT), t.style);
    EXPECT_EQ(0u, t.exStyle);
    EXPECT_EQ(0, t.x);
    EXPECT_EQ(0, t.y);
    EXPECT_EQ(250, t.cx);
    EXPECT_EQ(170, t.cy);
    EXPECT_EQ("", t.menu);
    /* Class names ignore case; the resource compiler keeps them in capitals. */
    EXPECT_EQ("UNINSTALL", Upper(t.className));
    EXPECT_EQ("", t.caption);
    EXPECT_EQ(8, t.pointSize);
    EXPECT_EQ("MS Sans Serif", t.face);
    ASSERT_EQ(controls.size(), t.controls.size());
    for (size_t i = 0; i < controls.size(); i++) {
        SCOPED_TRACE(i);
        const Control &want = controls[i], &got = t.controls[i];
        EXPECT_EQ(want.id, got.id);
        EXPECT_EQ(Upper(want.className), Upper(got.className));
        EXPECT_EQ(want.caption, got.caption);
        EXPECT_EQ(want.style, got.style);
        EXPECT_EQ(want.x, got.x);
        EXPECT_EQ(want.y, got.y);
        EXPECT_EQ(want.cx, got.cx);
        EXPECT_EQ(want.cy, got.cy);
    }
}

} // namespace

TEST_F(Resources, FourStandardDialogTemplatesAndTheIconAllInUsEnglishOnly)
{
    std::set<std::string> dialogs;
    EnumResourceNamesA(module, RT_DIALOG, CollectName, (LONG_PTR)&dialogs);
    EXPECT_EQ((std::set<std::string>{"PROMPT1", "PROMPT2", "PROMPT3", "UNINSTALL"}), dialogs);
    std::set<std::string> icons;
    EnumResourceNamesA(module, RT_GROUP_ICON, CollectName, (LONG_PTR)&icons);
    EXPECT_EQ((std::set<std::string>{"!UNINSTALL"}), icons);

    const char *names[] = {"Uninstall", "Prompt1", "Prompt2", "Prompt3"};
    for (const char *name : names) {
        std::set<WORD> languages;
        EnumResourceLanguagesA(module, RT_DIALOG, name, CollectLanguage, (LONG_PTR)&languages);
        EXPECT_EQ((std::set<WORD>{ENGLISH_US}), languages) << name;
    }
    std::set<WORD> languages;
    EnumResourceLanguagesA(module, RT_GROUP_ICON, "!Uninstall", CollectLanguage, (LONG_PTR)&languages);
    EXPECT_EQ((std::set<WORD>{ENGLISH_US}), languages);
}

TEST_F(Resources, TheFrameTemplateIsACentredCaptionedPopupWithoutControls)
{
    Template t = Dialog("Uninstall");
    EXPECT_EQ((DWORD)(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_CENTER | DS_SETFONT), t.style);
    EXPECT_EQ(0u, t.exStyle);
    EXPECT_EQ(0, t.x);
    EXPECT_EQ(0, t.y);
    EXPECT_EQ(250, t.cx);
    EXPECT_EQ(170, t.cy);
    EXPECT_EQ("", t.menu);
    EXPECT_EQ("UNINSTALL", Upper(t.className));
    EXPECT_EQ("Uninstall", t.caption);
    EXPECT_EQ(8, t.pointSize);
    EXPECT_EQ("MS Sans Serif", t.face);
    EXPECT_TRUE(t.controls.empty());
}

TEST_F(Resources, ThePageTemplatesHoldTheirControlsInTabOrder)
{
    ExpectPage(Dialog("Prompt1"), {
        {IDC_CANCEL, "Button", "Cancel", BUTTON, 146, 140, 43, 14},
        {IDC_CONTINUE, "Button", "Continue...", DEFAULT_BUTTON, 193, 140, 43, 14},
        {IDC_PROMPT1_TOP, "Static", "", TEXT, 15, 15, 220, 33},
        {IDC_PROMPT1_MIDDLE, "Static", "", TEXT, 15, 52, 220, 33},
        {IDC_PROMPT1_BOTTOM, "Static", "", TEXT, 15, 89, 220, 33},
    });
    ExpectPage(Dialog("Prompt2"), {
        {IDC_BACK, "Button", "Back", BUTTON, 98, 142, 43, 14},
        {IDC_CANCEL, "Button", "Cancel", BUTTON, 144, 142, 43, 14},
        {IDC_CONTINUE, "Button", "Continue", DEFAULT_BUTTON, 191, 142, 43, 14},
        {IDC_PROMPT2_BOTTOM, "Static", "", TEXT, 15, 86, 220, 33},
        {IDC_PROMPT2_MIDDLE, "Static", "", TEXT, 15, 49, 220, 33},
        {IDC_PROMPT2_TOP, "Static", "", TEXT, 15, 12, 220, 33},
    });
    ExpectPage(Dialog("Prompt3"), {
        {IDC_CONTINUE, "Button", "OK", DEFAULT_BUTTON, 191, 143, 43, 14},
        {IDC_PROMPT3_TOP, "Static", "", TEXT, 15, 15, 220, 33},
        {IDC_PROMPT3_MIDDLE, "Static", "", TEXT, 15, 52, 220, 33},
        {IDC_PROMPT3_BOTTOM, "Static", "", TEXT, 15, 89, 220, 33},
    });
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colourCount, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST_F(Resources, TheIconHoldsA32And16PixelImageOf16ColoursEach)
{
    const WORD *group = (const WORD *)Find(RT_GROUP_ICON, "!Uninstall");
    ASSERT_TRUE(group != NULL);
    EXPECT_EQ(1, group[1]); /* an icon, not a cursor */
    ASSERT_EQ(2, group[2]);
    const GroupIconEntry *entries = (const GroupIconEntry *)(group + 3);
    const int sizes[] = {32, 16};
    for (int i = 0; i < 2; i++) {
        SCOPED_TRACE(sizes[i]);
        EXPECT_EQ(sizes[i], entries[i].width);
        EXPECT_EQ(sizes[i], entries[i].height);
        EXPECT_EQ(16, entries[i].colourCount);
        EXPECT_EQ(4, entries[i].bitCount);
        const BITMAPINFOHEADER *image =
            (const BITMAPINFOHEADER *)Find(RT_ICON, MAKEINTRESOURCEA(entries[i].id));
        ASSERT_TRUE(image != NULL);
        EXPECT_EQ(sizes[i], image->biWidth);
        EXPECT_EQ(sizes[i] * 2, image->biHeight); /* colour rows and mask rows */
        EXPECT_EQ(4, image->biBitCount);
    }
    /* And the system takes it for an icon of both sizes. */
    HMODULE running = LoadLibraryExA(UninstallExe().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(running != NULL);
    HICON large = (HICON)LoadImageA(running, "!Uninstall", IMAGE_ICON, 32, 32, 0);
    HICON small = (HICON)LoadImageA(running, "!Uninstall", IMAGE_ICON, 16, 16, 0);
    EXPECT_TRUE(large != NULL);
    EXPECT_TRUE(small != NULL);
    DestroyIcon(large);
    DestroyIcon(small);
    FreeLibrary(running);
}

TEST_F(Resources, TheManifestAsksForHighestAvailableDeclaresTheSystemsAndCommonControls6)
{
    std::set<std::string> names;
    EnumResourceNamesA(module, MAKEINTRESOURCEA(24), CollectName, (LONG_PTR)&names);
    EXPECT_EQ((std::set<std::string>{"#"}), names) << "one manifest, under a number";
    std::set<WORD> languages;
    EnumResourceLanguagesA(module, MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1), CollectLanguage,
                           (LONG_PTR)&languages);
    EXPECT_EQ((std::set<WORD>{ENGLISH_US}), languages);
    HRSRC found = FindResourceExA(module, MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1), ENGLISH_US);
    ASSERT_TRUE(found != NULL);
    std::string manifest((const char *)LockResource(LoadResource(module, found)),
                         SizeofResource(module, found));
    /* Windows refuses to start a program whose manifest has a wrong namespace,
       token or version; Wine would run it anyway, so the texts are checked. */
    const char *texts[] = {
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">",
        "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">",
        "<requestedExecutionLevel level=\"highestAvailable\" uiAccess=\"false\"/>",
        "<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">",
        "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>", /* 7 */
        "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>", /* 8 */
        "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>", /* 8.1 */
        "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>", /* 10 and 11 */
        "<assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" "
        "version=\"6.0.0.0\" processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" "
        "language=\"*\"/>",
        /* Aware of the system's DPI, not per monitor: laid out once at start. */
        "<application xmlns=\"urn:schemas-microsoft-com:asm.v3\"><windowsSettings><dpiAware "
        "xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>"
        "</windowsSettings></application>",
    };
    for (const char *text : texts)
        EXPECT_NE(std::string::npos, manifest.find(text)) << text;
    EXPECT_EQ(std::string::npos, manifest.find("requireAdministrator"));
    EXPECT_EQ(std::string::npos, manifest.find("dpiAwareness")) << "per-monitor awareness";
}

TEST_F(Resources, TheImportTableNamesOnlyTheFourSystemLibrariesAndNoNewerLibraryCall)
{
    /* Loaded as an image resource, the file is laid out as an image: relative
       addresses apply to its base (the handle without its two flag bits). */
    const char *base = (const char *)((ULONG_PTR)module & ~(ULONG_PTR)3);
    auto *headers = (const IMAGE_NT_HEADERS64 *)(base + ((const IMAGE_DOS_HEADER *)base)->e_lfanew);
    DWORD imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    std::set<std::string> libraries, calls;
    for (auto *entry = (const IMAGE_IMPORT_DESCRIPTOR *)(base + imports); entry->Name; entry++) {
        libraries.insert(Upper(base + entry->Name));
        for (auto *thunk = (const ULONGLONG *)(base + entry->OriginalFirstThunk); *thunk; thunk++) {
            if (!(*thunk & IMAGE_ORDINAL_FLAG64))
                calls.insert(((const IMAGE_IMPORT_BY_NAME *)(base + *thunk))->Name);
        }
    }
    EXPECT_EQ((std::set<std::string>{"ADVAPI32.DLL", "KERNEL32.DLL", "MSVCRT.DLL", "USER32.DLL"}), libraries);
    EXPECT_EQ(1u, calls.count("GetProcAddress"));
    /* Missing from Windows 7 before its 2011 loader update: imported, it stops the start. */
    EXPECT_EQ(0u, calls.count("SetDefaultDllDirectories"));
}
