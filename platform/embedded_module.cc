#include "platform/embedded_module.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file_io.h"

namespace quarrin {

namespace {

std::string DlError() {
  const char* text = dlerror();
  return text ? text : "unknown error";
}

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
  // The loader maps the file; the descriptor is not needed afterwards.
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  close(fd);
  if (handle == nullptr) {
    *error = DlError();
    return nullptr;
  }
  return std::unique_ptr<EmbeddedModule>(new EmbeddedModule(handle, lifetime));
}

EmbeddedModule::~EmbeddedModule() {
  if (lifetime_ == Lifetime::kOwner) dlclose(handle_);
}

void* EmbeddedModule::Symbol(const char* name, std::string* error) const {
  dlerror();
  void* address = dlsym(handle_, name);
  if (address == nullptr) *error = DlError();
  return address;
}

}  // namespace quarrin
