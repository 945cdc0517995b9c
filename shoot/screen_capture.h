// Screenshots for the documentation: a part of the screen written as a
// 24-bit BMP file (scripts/screenshots turns them into PNG), once what is
// shown there has been painted.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qvshoot {

// Has windows paint now (each on its own thread, which must be answering
// its messages), then captures the screen inside area until two captures
// in a row are the same: the screen shows what was painted. Writes that to
// path; false when the captures did not settle within timeout_ms or the
// file could not be written.
bool CaptureWhenPainted(const std::vector<HWND>& windows, const RECT& area, const std::string& path,
                        DWORD timeout_ms);

}  // namespace qvshoot
