// Shared pieces of feedlet-tool's commands: the command table entry and
// UTF-8 / JSON output helpers (output is always UTF-8).
#pragma once

#include <string>

namespace feedlet {
namespace tool {

// A command gets the arguments after its name; returns the exit status.
using CommandFn = int (*)(int argc, char** argv);

struct Command {
    const char* name;
    const char* usage;
    CommandFn run;
};

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf8(const char16_t* text);
// A JSON string literal of a UTF-16 text (quotes included); lone surrogates
// are written as \uXXXX escapes so nothing is lost.
std::string JsonString(const char16_t* text);
// "null" for a null text, else JsonString.
std::string JsonStringOrNull(const char16_t* text);
// A command-line argument as UTF-16: on Windows the arguments arrive in the
// ANSI code page (932 on the users' systems); elsewhere in UTF-8, decoded
// exactly as the engine decodes a feed (DecodeUtf8).
std::u16string FromCommandLine(const char* argument);
// Writes bytes to standard output unchanged.
void Print(const std::string& text);

}  // namespace tool
}  // namespace feedlet
