// Checking the whole load path on raw bytes (encoding sniffing, every
// decoder, the parse), shared by the fuzz target fuzz-load and the replay of
// its corpus in the ordinary test run.
#pragma once

#include <cstddef>
#include <string>

namespace feedlet {
namespace load_check {

// Loads the bytes as a fetched document and checks the result: the load
// succeeds, the root is "*", the tree holds its invariants. The bytes also go
// through DecodeUtf8 (no lone surrogates, every ASCII byte kept, valid input
// read back exactly, same result as an independent reference reading of
// the well-formed sequences) and EucJpToShiftJis (never longer, terminated).
// Returns "" or a description of the first fault found.
std::string CheckBytes(const unsigned char* data, size_t size);

}  // namespace load_check
}  // namespace feedlet
