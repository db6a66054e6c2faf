// The resources a host's process, installers and support staff read from tarnix.dll: the version,
// and the dialog templates, each in English (United States) only, with its styles, size, title and
// font, and every control's id, class, text, rectangle (dialog units) and style, in template order.
// Hosts' documentation and support staff know these windows; nothing in them may drift.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tarnix.h"

namespace {

TEST(VersionInfo, NamesTheLibraryAndItsVersion) {
    char path[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameA(GetModuleHandleA("tarnix.dll"), path, MAX_PATH));
    std::vector<char> data(GetFileVersionInfoSizeA(path, nullptr));
    ASSERT_FALSE(data.empty()) << "tarnix.dll carries no version resource";
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, static_cast<DWORD>(data.size()), data.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    std::string version = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                          std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                          std::to_string(HIWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(TARNIX_EXPECTED_VERSION, version);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);

    for (auto [key, expected] : {std::pair<const char*, const char*>{"OriginalFilename", "tarnix.dll"},
                                 {"FileVersion", TARNIX_EXPECTED_VERSION}}) {
        char* text = nullptr;
        std::string query = std::string("\\StringFileInfo\\040904b0\\") + key;
        ASSERT_TRUE(VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&text), &length)) << key;
        EXPECT_STREQ(expected, text) << key;
    }
}

// Reads a name or an ordinal of a template, moving past it: the predefined control classes by
// name, other ordinals as #n, names in upper case when asked (class names ignore case).
std::string NameOrOrdinal(const WORD*& at, bool upper = false) {
    static const char* const kClasses[] = {"BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX"};
    if (*at == 0xFFFF) {
        const WORD ordinal = at[1];
        at += 2;
        return ordinal >= 0x80 && ordinal <= 0x85 ? kClasses[ordinal - 0x80] : "#" + std::to_string(ordinal);
    }
    std::string text;
    for (; *at; ++at) text += static_cast<char>(upper ? toupper(*at) : *at);
    ++at;
    return text;
}

// The template in the form of the expectations below: a line for the dialog, one per control.
std::vector<std::string> Describe(const DLGTEMPLATE* dialog) {
    char line[512];
    const WORD* at = reinterpret_cast<const WORD*>(dialog + 1);
    const std::string menu = NameOrOrdinal(at), kind = NameOrOrdinal(at), title = NameOrOrdinal(at);
    const WORD points = (dialog->style & DS_SETFONT) ? *at++ : 0;
    const std::string font = (dialog->style & DS_SETFONT) ? NameOrOrdinal(at) : "";
    std::snprintf(line, sizeof line, "%dx%d \"%s\" %08lX %lX menu \"%s\" class \"%s\" font %u \"%s\"", dialog->cx,
                  dialog->cy, title.c_str(), dialog->style, dialog->dwExtendedStyle, menu.c_str(), kind.c_str(), points,
                  font.c_str());
    std::vector<std::string> lines{line};
    for (WORD i = 0; i < dialog->cdit; ++i) {
        const auto* item = reinterpret_cast<const DLGITEMTEMPLATE*>((reinterpret_cast<UINT_PTR>(at) + 3) & ~UINT_PTR{3});
        at = reinterpret_cast<const WORD*>(item + 1);
        const std::string itemClass = NameOrOrdinal(at, true), text = NameOrOrdinal(at);
        at = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(at + 1) + *at);  // past creation data
        std::snprintf(line, sizeof line, "%d %s %08lX %lX %d,%d,%d,%d %s", static_cast<short>(item->id), itemClass.c_str(),
                      item->style, item->dwExtendedStyle, item->x, item->y, item->cx, item->cy, text.c_str());
        lines.push_back(line);
    }
    return lines;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR found) {
    reinterpret_cast<std::vector<WORD>*>(found)->push_back(language);
    return TRUE;
}

TEST(DialogTemplates, AreTheHostsKnowThemInEveryDetail) {
    const HMODULE library = GetModuleHandleA("tarnix.dll");
    ASSERT_NE(nullptr, library);
    // Each dialog's size and title (its styles, menu, class and font are those of every dialog),
    // then each control: id, class, styles, rectangle and text.
    const std::string kEveryDialog = " 80C800C0 0 menu \"\" class \"\" font 8 \"MS Sans Serif\"";
    const struct {
        int id;
        std::vector<std::string> lines;
    } templates[] = {
        {101,
         {"341x289 \"Online Family Trees\"", "-1 STATIC 50020000 0 7,7,53,8 Family Tree Site:",
          "1000 LISTBOX 50A10101 0 7,18,99,125 ", "1007 SYSLISTVIEW32 50818005 0 112,7,222,136 ",
          "-1 STATIC 50020000 0 78,150,33,8 Name:", "1008 EDIT 50810080 0 112,148,167,14 ",
          "1009 BUTTON 50010003 0 19,178,153,10 Add this tree to the Velmora World Tree",
          "1 BUTTON 50010001 0 229,272,50,14 OK", "2 BUTTON 50010000 0 284,272,50,14 Cancel",
          "1010 EDIT 50A10844 0 13,192,315,57 ", "-1 BUTTON 50000007 0 7,167,327,99 Velmora World Tree Submissions",
          "1011 BUTTON 50010003 0 19,253,139,10 I accept the terms of this agreement"}},
        {102,
         {"260x138 \"Download\"", "1 BUTTON 48010001 0 141,117,50,14 OK", "2 BUTTON 50010000 0 203,117,50,14 Cancel",
          "1001 MSCTLS_PROGRESS32 50800000 0 7,60,246,9 Progress1",
          "1002 STATIC 50020000 0 7,49,199,8 Source from server", "1003 STATIC 50020000 0 7,39,197,8 Saving:",
          "-1 STATIC 50020000 0 7,75,66,8 Estimated time left:", "1004 STATIC 50020000 0 81,75,156,8 Progress",
          "-1 STATIC 50020000 0 7,86,50,8 Download to:", "1005 STATIC 50020000 0 81,86,158,8 Destination",
          "-1 STATIC 50020000 0 7,97,52,8 Transfer rate:", "1006 STATIC 50020000 0 81,97,158,8 Rate",
          "-1 STATIC 50020000 0 7,7,246,26 Please wait while the import process copies the file you selected from the "
          "web. The amount of time this will take depends upon the size of the file and the speed of your internet "
          "connection."}},
        {103,
         {"235x135 \"Online Family Tree\"", "2 BUTTON 50010000 0 178,114,50,14 Cancel",
          "1003 STATIC 50020000 0 7,24,215,38 Message", "1002 STATIC 50020000 0 7,69,214,35 Status"}},
        {104,
         {"253x79 \"Export\"", "1 BUTTON 48010001 0 142,58,50,14 OK", "2 BUTTON 50010000 0 196,58,50,14 Cancel",
          "1002 STATIC 50020000 0 7,11,233,12 Source from server",
          "-1 STATIC 50020000 0 7,24,228,26 Please wait while the export process copies your file to the web.  The "
          "amount of time this will take depends upon the size of your file and the speed of your internet connection."}},
        {105,
         {"277x89 \"Velmora Family Tree Updates\"", "1 BUTTON 50010001 0 106,68,146,14 Yes, Update Velmora Family Tree Now",
          "2 BUTTON 50010000 0 20,68,76,14 Remind Me Later",
          "-1 STATIC 50020000 0 16,14,244,19 A newer version of Velmora Family Tree is now available.  Would you like to "
          "update your software now? ",
          "-1 STATIC 50020000 0 16,35,245,21 This process will download the update file from Velmora and then close "
          "Velmora Family Tree to allow the update to take place."}},
    };
    for (const auto& expected : templates) {
        SCOPED_TRACE("dialog " + std::to_string(expected.id));
        std::vector<WORD> languages;
        EnumResourceLanguagesA(library, MAKEINTRESOURCEA(5) /* RT_DIALOG */, MAKEINTRESOURCEA(expected.id),
                               &CollectLanguage, reinterpret_cast<LONG_PTR>(&languages));
        EXPECT_EQ(std::vector<WORD>{MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)}, languages);
        HRSRC resource = FindResourceA(library, MAKEINTRESOURCEA(expected.id), MAKEINTRESOURCEA(5));
        ASSERT_NE(nullptr, resource);
        const auto* dialog = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(library, resource)));
        ASSERT_NE(nullptr, dialog);
        std::vector<std::string> lines = expected.lines;
        lines[0] += kEveryDialog;
        EXPECT_EQ(lines, Describe(dialog));
    }
}

}  // namespace
