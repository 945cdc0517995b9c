// Screenshots for the documentation: a part of the screen written as a
// 24-bit BMP file (scripts/screenshots turns them into PNG).
#pragma once

#include <windows.h>

#include <string>

namespace qvhost {

// The bounding rectangle of every visible top-level window of this process
// with this class, grown by margin pixels; empty when there is none.
RECT WindowsBounds(const wchar_t* window_class, int margin);
// Writes the screen's pixels inside area to path; false on failure.
bool CaptureScreen(const RECT& area, const std::string& path);
// Waits (polling) at most timeout_ms for a visible window of this process
// with this class (and caption, when given).
HWND WaitForProcessWindow(const wchar_t* window_class, const wchar_t* caption, DWORD timeout_ms);
// Visible top-level windows of this process with this class.
int CountProcessWindows(const wchar_t* window_class);

}  // namespace qvhost
