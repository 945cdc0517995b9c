#include "screen_capture.h"

#include <cstdio>
#include <vector>

namespace qvhost {

namespace {

struct Search {
    const wchar_t* window_class;
    const wchar_t* caption;
    HWND found;
    int count;
    RECT bounds;
};

BOOL CALLBACK Visit(HWND window, LPARAM raw) {
    auto* search = reinterpret_cast<Search*>(raw);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    wchar_t name[256];
    if (!GetClassNameW(window, name, 256) || lstrcmpW(name, search->window_class) != 0) return TRUE;
    if (search->caption) {
        wchar_t text[512];
        GetWindowTextW(window, text, 512);
        if (lstrcmpW(text, search->caption) != 0) return TRUE;
    }
    if (!search->found) search->found = window;
    ++search->count;
    RECT rect;
    GetWindowRect(window, &rect);
    if (IsRectEmpty(&search->bounds)) search->bounds = rect;
    else UnionRect(&search->bounds, &search->bounds, &rect);
    return TRUE;
}

Search Find(const wchar_t* window_class, const wchar_t* caption) {
    Search search{window_class, caption, nullptr, 0, RECT{0, 0, 0, 0}};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    return search;
}

}  // namespace

RECT WindowsBounds(const wchar_t* window_class, int margin) {
    RECT bounds = Find(window_class, nullptr).bounds;
    if (!IsRectEmpty(&bounds)) InflateRect(&bounds, margin, margin);
    RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    IntersectRect(&bounds, &bounds, &screen);
    return bounds;
}

int CountProcessWindows(const wchar_t* window_class) { return Find(window_class, nullptr).count; }

HWND WaitForProcessWindow(const wchar_t* window_class, const wchar_t* caption, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    for (;;) {
        if (HWND found = Find(window_class, caption).found) return found;
        if (GetTickCount() - start >= timeout_ms) return nullptr;
        Sleep(20);
    }
}

bool CaptureScreen(const RECT& area, const std::string& path) {
    int width = area.right - area.left;
    int height = area.bottom - area.top;
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as BMP files store rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap && bits) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
        GdiFlush();
        SelectObject(memory, old);
        DWORD stride = static_cast<DWORD>((width * 3 + 3) & ~3);
        DWORD size = stride * static_cast<DWORD>(height);
        BITMAPFILEHEADER file{};
        file.bfType = 0x4D42;  // "BM"
        file.bfOffBits = sizeof file + sizeof info.bmiHeader;
        file.bfSize = file.bfOffBits + size;
        info.bmiHeader.biSizeImage = size;
        if (FILE* out = std::fopen(path.c_str(), "wb")) {
            ok = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                 std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
                 std::fwrite(bits, 1, size, out) == size;
            ok = std::fclose(out) == 0 && ok;
        }
    }
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

}  // namespace qvhost
