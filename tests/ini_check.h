// Checks for hostile configuration files, shared by the fuzz-ini target and
// the replay of its corpus in the ordinary test run.
//
// One input holds up to three files, separated by the byte 0x1E (the ASCII
// record separator, which no configuration value needs):
//
//     RSS.ini 0x1E Setting.ini 0x1E QVL_Data.ini
//
// A file whose part is missing (fewer separators) does not exist; an empty
// part is an empty file; a third separator and what follows it belong to
// QVL_Data.ini. The files are laid out as the host does (QVL_Data.ini in the
// host folder, the other two in Plugins/Feedlet/) in a folder of their own,
// the plugin directory is pointed at it for the check and restored after.
#pragma once

#include <cstddef>
#include <string>

namespace feedlet {
namespace ini_check {

constexpr char kFileSeparator = '\x1E';

// Loads the input's files with LoadConfiguration and checks what it built:
// counts within their bounds, every name terminated within its field, every
// setting's target a registered feed's crawler or none, every zone
// reference one of the loaded zones, the documented clamps and defaults.
// Then saves everything (every setting marked for saving), loads again and
// checks that nothing was lost. Returns "" when every check holds, else a
// description of the first fault.
std::string CheckInput(const unsigned char* data, size_t size);

}  // namespace ini_check
}  // namespace feedlet
