// Windows shared memory: a page-file-backed named file mapping.
#include "platform/SharedMemory.h"

#include <windows.h>

namespace platform {

namespace {

bool MapWhole(HANDLE mapping, std::size_t size, SharedBlock* block) {
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
  if (view == nullptr) {
    CloseHandle(mapping);
    return false;
  }
  block->mapping = mapping;
  block->view = view;
  return true;
}

}  // namespace

bool CreateSharedBlock(const char* name, std::size_t size, SharedBlock* block) {
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      static_cast<DWORD>(size), name);
  if (mapping == nullptr) return false;
  block->created = true;
  return MapWhole(mapping, size, block);
}

bool OpenSharedBlock(const char* name, std::size_t size, SharedBlock* block) {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, TRUE, name);
  if (mapping == nullptr) return false;
  block->created = false;
  return MapWhole(mapping, size, block);
}

void CloseSharedBlock(const char*, std::size_t, SharedBlock* block) {
  if (block->view != nullptr) UnmapViewOfFile(block->view);
  if (block->mapping != nullptr) CloseHandle(static_cast<HANDLE>(block->mapping));
  block->view = nullptr;
  block->mapping = nullptr;
  block->created = false;
}

}  // namespace platform
