// Desktop services on Windows: MessageBoxA, MessageBeep, the comdlg32 file
// and colour dialogs and ShellExecuteA, with the window as owner.
#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cstring>

#include "host/desktop.h"
#include "host/host_win32.h"

namespace {

// Room for the name and pattern pairs of one dialog; pairs that do not fit are left out.
constexpr size_t DESKTOP_FILTER_BYTES = 512;
// OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST.
constexpr DWORD DESKTOP_SAVE_DIALOG_FLAGS = 0x1802;

HWND owner(bool owned) { return owned ? static_cast<HWND>(host_window_handle()) : nullptr; }

// The pairs as "name\0pattern\0...\0"; false when no pair fits.
bool build_filter(const DesktopFileFilter* filters, int count, char (&out)[DESKTOP_FILTER_BYTES])
{
    size_t n = 0;
    for (int i = 0; filters && i < count; ++i) {
        const char* name = filters[i].name ? filters[i].name : "";
        const char* pattern = filters[i].pattern ? filters[i].pattern : "";
        const size_t a = std::strlen(name) + 1;
        const size_t b = std::strlen(pattern) + 1;
        if (n + a + b + 1 > DESKTOP_FILTER_BYTES)
            break;
        std::memcpy(out + n, name, a);
        std::memcpy(out + n + a, pattern, b);
        n += a + b;
    }
    out[n] = 0;
    return n > 0;
}

int file_dialog(bool save, bool owned, const char* title, const DesktopFileFilter* filters, int filter_count,
                const char* default_extension, char* path, int path_size)
{
    if (!path || path_size <= 0)
        return 0;
    if (!std::memchr(path, 0, size_t(path_size)))
        path[0] = 0;  // an unterminated proposal is no proposal
    char filter[DESKTOP_FILTER_BYTES];
    OPENFILENAMEA ofn{};
    // The size of this 64-bit build's structure without the Windows 2000 fields
    // (the 32-bit value is 76).
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ofn.hwndOwner = owner(owned);
    ofn.lpstrFilter = build_filter(filters, filter_count, filter) ? filter : nullptr;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path;
    ofn.nMaxFile = DWORD(path_size);
    ofn.lpstrTitle = title;
    ofn.lpstrDefExt = default_extension;
    // Without OFN_NOCHANGEDIR the open dialog leaves the chosen file's folder
    // current, which the store relies on; the save dialog must not move it.
    char saved_directory[MAX_PATH];
    const DWORD saved_length = save ? GetCurrentDirectoryA(MAX_PATH, saved_directory) : 0;
    const bool restore = saved_length > 0 && saved_length < MAX_PATH;
    ofn.Flags = save ? DESKTOP_SAVE_DIALOG_FLAGS | (restore ? 0 : OFN_NOCHANGEDIR) : 0;

    BOOL chosen = save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
    // A proposed name the dialog rejects (a cache may list names with
    // characters no file name can hold) would end the command unseen: ask
    // again without a proposal.
    if (!chosen && path[0] && CommDlgExtendedError() == FNERR_INVALIDFILENAME) {
        path[0] = 0;
        chosen = save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
    }
    if (restore)
        SetCurrentDirectoryA(saved_directory);
    if (!chosen)
        return 0;
    if (!save && ofn.nFileOffset > 0 && ofn.nFileOffset < path_size) {
        // Where the dialog left the current directory: the file's folder.
        char folder[MAX_PATH];
        if (ofn.nFileOffset >= sizeof folder)
            return 0;
        std::memcpy(folder, path, ofn.nFileOffset);
        folder[ofn.nFileOffset] = 0;
        if (!SetCurrentDirectoryA(folder))
            return 0;
    }
    return 1;
}

}  // namespace

void desktop_message_box(bool owned, const char* text, const char* caption)
{
    MessageBoxA(owner(owned), text ? text : "", caption ? caption : "", MB_OK);
}

void desktop_beep() { MessageBeep(0); }

int desktop_open_dialog(bool owned, const char* title, const DesktopFileFilter* filters, int filter_count,
                        const char* default_extension, char* path, int path_size)
{
    return file_dialog(false, owned, title, filters, filter_count, default_extension, path, path_size);
}

int desktop_save_dialog(bool owned, const char* title, const DesktopFileFilter* filters, int filter_count,
                        const char* default_extension, char* path, int path_size)
{
    return file_dialog(true, owned, title, filters, filter_count, default_extension, path, path_size);
}

int desktop_choose_colour(bool owned, uint32_t* colour, uint32_t custom_colours[DESKTOP_CUSTOM_COLOURS])
{
    static_assert(sizeof(COLORREF) == sizeof(uint32_t), "the custom colours are handed over as COLORREFs");
    CHOOSECOLORA cc;
    std::memset(&cc, 0, sizeof cc);
    cc.lStructSize = sizeof cc;  // this build's size (the 32-bit value is 36)
    cc.hwndOwner = owner(owned);
    cc.rgbResult = *colour;
    cc.lpCustColors = reinterpret_cast<COLORREF*>(custom_colours);
    cc.Flags = CC_RGBINIT | CC_FULLOPEN;
    if (!ChooseColorA(&cc))
        return 0;
    *colour = uint32_t(cc.rgbResult) & 0x00FFFFFF;
    return 1;
}

int desktop_shell_open(const char* name)
{
    if (!name || !name[0])
        return 0;
    HINSTANCE result = ShellExecuteA(static_cast<HWND>(host_window_handle()), "open", name, nullptr, nullptr,
                                     SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32 ? 1 : 0;
}
