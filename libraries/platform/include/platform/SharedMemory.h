// A named block of shared memory that other processes can open by name:
// a page-file-backed file mapping on Windows, POSIX shared memory on Linux.
#pragma once

#include <cstddef>

namespace platform {

struct SharedBlock {
  void* mapping = nullptr;  // the mapping handle (Linux: the descriptor + 1)
  void* view = nullptr;     // where the block is mapped
  bool created = false;     // this process created the name
};

// Creates the block (or opens it when it exists already) and maps it whole.
bool CreateSharedBlock(const char* name, std::size_t size, SharedBlock* block);
// Opens an existing block and maps it whole; false when there is none.
bool OpenSharedBlock(const char* name, std::size_t size, SharedBlock* block);
// Unmaps and closes. On Linux the creator also removes the name, so that,
// as on Windows, the name is gone once its creator has let go of it.
void CloseSharedBlock(const char* name, std::size_t size, SharedBlock* block);

}  // namespace platform
