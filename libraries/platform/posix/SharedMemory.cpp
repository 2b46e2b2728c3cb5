// Linux shared memory: POSIX shm_open and mmap. The name gets the leading
// slash POSIX asks for; the creator removes the name when it closes.
#include "platform/SharedMemory.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace platform {

namespace {

std::string PosixName(const char* name) { return std::string("/") + name; }

bool MapDescriptor(int descriptor, std::size_t size, SharedBlock* block) {
  void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0);
  if (view == MAP_FAILED) {
    close(descriptor);
    return false;
  }
  block->mapping = reinterpret_cast<void*>(static_cast<std::intptr_t>(descriptor) + 1);
  block->view = view;
  return true;
}

}  // namespace

bool CreateSharedBlock(const char* name, std::size_t size, SharedBlock* block) {
  // As with a Windows mapping, creating a block that exists already opens it;
  // only the process that made the name removes it again.
  const std::string path = PosixName(name);
  const int descriptor = shm_open(path.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
  if (descriptor < 0) return errno == EEXIST && OpenSharedBlock(name, size, block);
  if (ftruncate(descriptor, static_cast<off_t>(size)) != 0) {
    close(descriptor);
    shm_unlink(path.c_str());
    return false;
  }
  if (!MapDescriptor(descriptor, size, block)) {
    shm_unlink(path.c_str());
    return false;
  }
  block->created = true;
  return true;
}

bool OpenSharedBlock(const char* name, std::size_t size, SharedBlock* block) {
  const std::string path = PosixName(name);
  const int descriptor = shm_open(path.c_str(), O_RDWR, 0);
  if (descriptor < 0) return false;
  struct stat status;
  if (fstat(descriptor, &status) != 0 || static_cast<std::size_t>(status.st_size) < size) {
    close(descriptor);
    return false;
  }
  block->created = false;
  return MapDescriptor(descriptor, size, block);
}

void CloseSharedBlock(const char* name, std::size_t size, SharedBlock* block) {
  if (block->view != nullptr) munmap(block->view, size);
  if (block->mapping != nullptr) {
    close(static_cast<int>(reinterpret_cast<std::intptr_t>(block->mapping) - 1));
  }
  if (block->created) shm_unlink(PosixName(name).c_str());
  block->view = nullptr;
  block->mapping = nullptr;
  block->created = false;
}

}  // namespace platform
