#include "platform/process/embedded_module_linux.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files/file_io.h"

namespace quarrin {

namespace {

std::string DlError() {
  const char* text = dlerror();
  return text ? text : "unknown error";
}

// The path the loader opens a module by, and knows it by afterwards.
std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace

std::unique_ptr<EmbeddedModule> EmbeddedModule::Load(const char* name, const void* image,
                                                     size_t size, std::string* error,
                                                     Lifetime lifetime) {
  if (image == nullptr || size == 0) {
    *error = std::string("the module ") + name + " is empty";
    return nullptr;
  }
  const int fd = memfd_create(name, MFD_CLOEXEC);
  if (fd < 0) {
    *error = ErrnoMessage("memfd_create", errno);
    return nullptr;
  }
  if (const int failed = WriteAll(fd, image, size); failed != 0) {
    *error = ErrnoMessage(std::string("writing the module ") + name, failed);
    close(fd);
    return nullptr;
  }
  // The loader hands out the module it already has under a path for every
  // later load of that path. So the descriptor stays open, and its number
  // taken, while the module is loaded: a descriptor number that came again
  // would load the module loaded before under it instead of this one.
  void* handle = dlopen(DescriptorPath(fd).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    *error = DlError();
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<EmbeddedModule>(new EmbeddedModule(handle, fd, lifetime));
}

EmbeddedModule::~EmbeddedModule() {
  if (lifetime_ != Lifetime::kOwner) return;  // still loaded, under its path
  dlclose(handle_);
  const std::string path = DescriptorPath(fd_);
  if (void* kept = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD)) {
    // Something keeps the module loaded after all, and so its path taken.
    dlclose(kept);
    return;
  }
  close(fd_);
}

void* EmbeddedModule::Symbol(const char* name, std::string* error) const {
  dlerror();
  void* address = dlsym(handle_, name);
  if (address == nullptr) *error = DlError();
  return address;
}

}  // namespace quarrin
