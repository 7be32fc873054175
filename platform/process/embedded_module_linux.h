// A shared object that the executable carries in itself, loaded from memory.
//
// The program and its modules then always come from one build: an update
// that replaces the executable replaces its modules with it, and no file
// beside the executable can be missing or of another version.
#ifndef QUARRIN_PLATFORM_PROCESS_EMBEDDED_MODULE_LINUX_H_
#define QUARRIN_PLATFORM_PROCESS_EMBEDDED_MODULE_LINUX_H_

#include <cstddef>
#include <memory>
#include <string>

namespace quarrin {

class EmbeddedModule {
 public:
  enum class Lifetime {
    kProcess,  // stays loaded for the life of the process
    kOwner,    // unloaded when this object goes
  };

  // Copies the image into an anonymous in-memory file and loads it from
  // there with all its symbols bound at once; the file stays open while the
  // module is loaded. Returns null with the reason
  // in *error when it cannot. `name` only labels the file (as
  // /proc/<pid>/maps shows it).
  // With Lifetime::kOwner the owner must make sure that nothing the module
  // handed out (objects, functions, exceptions, threads) is in use when this
  // goes; by default it stays loaded, as what it handed out may be.
  static std::unique_ptr<EmbeddedModule> Load(const char* name, const void* image, size_t size,
                                              std::string* error,
                                              Lifetime lifetime = Lifetime::kProcess);

  ~EmbeddedModule();
  EmbeddedModule(const EmbeddedModule&) = delete;
  EmbeddedModule& operator=(const EmbeddedModule&) = delete;

  // The address of an exported symbol; null with the reason in *error.
  void* Symbol(const char* name, std::string* error) const;

 private:
  EmbeddedModule(void* handle, int fd, Lifetime lifetime)
      : handle_(handle), fd_(fd), lifetime_(lifetime) {}
  void* handle_;
  int fd_;  // the in-memory file the module was loaded from
  Lifetime lifetime_;
};

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_PROCESS_EMBEDDED_MODULE_LINUX_H_
