#include "screen_capture.h"

#include <cstdio>
#include <utility>

#include "bounded_waits.h"

namespace qvshoot {

namespace {

// Two captures compared are at least this far apart, so that they span the
// system's copy of a window's painting to the screen (Wine hands it to the
// X server when a thread of the process next waits; a composing desktop on
// Windows shows it at its next frame, a sixtieth of a second later).
constexpr DWORD kCaptureSpacingMs = 100;

// The screen's pixels inside an area: 24-bit rows, bottom-up, each padded
// to four bytes, as a BMP file stores them.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> bits;
};

bool Capture(const RECT& area, Pixels* out) {
    out->width = area.right - area.left;
    out->height = area.bottom - area.top;
    if (out->width <= 0 || out->height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = out->width;
    info.bmiHeader.biHeight = out->height;  // bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap && bits) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, out->width, out->height, screen, area.left, area.top, SRCCOPY) != 0;
        GdiFlush();
        SelectObject(memory, old);
        size_t stride = (static_cast<size_t>(out->width) * 3 + 3) & ~size_t{3};
        const auto* first = static_cast<const unsigned char*>(bits);
        out->bits.assign(first, first + stride * static_cast<size_t>(out->height));
    }
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

bool WriteBmp(const Pixels& pixels, const std::string& path) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = pixels.width;
    header.biHeight = pixels.height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(pixels.bits.size());
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + header.biSizeImage;
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    bool ok = std::fwrite(&file, sizeof file, 1, out) == 1 && std::fwrite(&header, sizeof header, 1, out) == 1 &&
              std::fwrite(pixels.bits.data(), 1, pixels.bits.size(), out) == pixels.bits.size();
    return std::fclose(out) == 0 && ok;
}

}  // namespace

bool CaptureWhenPainted(const std::vector<HWND>& windows, const RECT& area, const std::string& path,
                        DWORD timeout_ms) {
    if (IsRectEmpty(&area)) return false;
    for (HWND window : windows)
        RedrawWindow(window, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Pixels previous;
    Pixels current;
    bool have_previous = false;
    DWORD taken_at = 0;
    // Pumped: the capturing thread may own the windows (its paint messages
    // must flow) or be a watcher (nothing to dispatch).
    bool settled = feedlet::win32_testing::PumpUntil(
        [&] {
            if (have_previous && GetTickCount() - taken_at < kCaptureSpacingMs) return false;
            taken_at = GetTickCount();
            if (!Capture(area, &current)) return false;
            bool same = have_previous && current.bits == previous.bits;
            std::swap(previous, current);
            have_previous = true;
            return same;
        },
        timeout_ms);
    if (!settled) {
        std::fprintf(stderr, "qvshoot: the screen did not settle within %lu ms\n",
                     static_cast<unsigned long>(timeout_ms));
        return false;
    }
    return WriteBmp(previous, path);
}

}  // namespace qvshoot
