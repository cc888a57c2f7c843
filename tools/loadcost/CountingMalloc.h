// A malloc for zvk-loadcost on glibc: it stands in for the C library's malloc
// in this program and in every module the program loads, so it sees each block
// the module takes while it loads, with the exact size asked for and the code
// address that asked. It can also refuse the module's nth block.
#pragma once

#include <cstddef>

namespace ifzvk::loadcost {

struct HeapTally {
  std::size_t bytes = 0;
  int blocks = 0;
};

// Records every block taken from now on, until StopRecording.
void StartRecording();
void StopRecording();

// Makes the nth block (1 = the next) that code of the module at `modulePath`
// asks for come back null; 0 turns it off.
void RefuseModuleBlock(const char* modulePath, int nth);

// Recorded blocks not yet freed: all of them, or those asked for by code in
// the module loaded at `moduleBase`.
HeapTally LiveBlocks();
HeapTally LiveBlocksOf(const void* moduleBase);

}  // namespace ifzvk::loadcost
