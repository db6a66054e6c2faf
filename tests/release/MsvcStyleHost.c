/*
 * A host as an MSVC-style toolchain builds it (clang --target=i686-pc-windows-msvc, lld-link),
 * linked against the release's tarnix.lib with the linker's default safe exception handler
 * checks. It declares what it calls itself: it needs no Windows SDK headers.
 */
__declspec(dllimport) long __stdcall TarnixURLEncode(const char *text, char *buffer, unsigned long size);
__declspec(dllimport) long __cdecl TarnixCheckVelmoraFamilyTreeVersion(const char *exe, const char *webctl,
                                                                       const char *library, const char *cobrand,
                                                                       void **request);
__declspec(dllimport) void __stdcall ExitProcess(unsigned code);

void __stdcall Start(void)
{
    char encoded[16];
    void *request = 0;
    /* Not initialized: the version check is refused (E_FAIL) and hands out nothing. */
    const long refused = TarnixCheckVelmoraFamilyTreeVersion("1", "2", "3", "", &request);
    const long encodedOk = TarnixURLEncode("a b", encoded, sizeof encoded);
    ExitProcess(encodedOk == 0 && encoded[1] == '%' && refused != 0 && request == 0 ? 0 : 1);
}
