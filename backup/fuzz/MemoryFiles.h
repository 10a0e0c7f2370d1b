#pragma once
// In-memory files for the native fuzzer and its seed writer: a file system
// of named byte vectors behind the archive layer's file interface.
//
// Reading a fuzz input, the files are the input's parts: every path a reader
// opens for the first time gets the next part, so that volume chains and base
// archives are followed whatever names the input's records carry.
#include "CNAFile.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace memoryfiles {

struct SWrite {
    std::string path;
    uint64_t offset;
    uint64_t length;
};

// Forgets every file; then `parts` are handed out in turn to new paths.
void Reset(std::vector<std::vector<uint8_t>> parts = {});
std::map<std::string, std::vector<uint8_t>>& Files();
// Every write made since the last Reset.
const std::vector<SWrite>& Writes();
CNAFile* NewFile();
// Event callback: code 4 makes a memory file, every other code answers 0.
int EventCallback(uint8_t code, void* arg, void* context, void* out);

}  // namespace memoryfiles
