// The main thread's loop while the service runs on other threads.
#ifndef QUARRIN_SERVICE_WINDOW_LOOP_H_
#define QUARRIN_SERVICE_WINDOW_LOOP_H_

#include <condition_variable>
#include <mutex>

namespace quarrin {

// The default one only waits for Quit.
class WindowLoop {
 public:
  virtual ~WindowLoop() = default;
  virtual void Run();
  // Callable from any thread; ends Run.
  virtual void Quit();

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool quit_ = false;
};

}  // namespace quarrin

#endif  // QUARRIN_SERVICE_WINDOW_LOOP_H_
