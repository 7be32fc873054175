// The running agent's drawing: the drawing code is a shared object that the
// executable carries in itself and loads when it first draws, so that an
// agent that is not asked for a chart or a popup never loads cairo, pango,
// libjpeg, FLTK or X11 (about a quarter of its memory and of its start-up
// time otherwise).
#ifndef QUARRIN_AGENT_MODULE_DRAWING_H_
#define QUARRIN_AGENT_MODULE_DRAWING_H_

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "agent/drawing.h"
#include "platform/process/embedded_module_linux.h"

// The module's one export: its Drawing, which lives as long as the process.
extern "C" quarrin::Drawing* QuarrinDrawing();
inline constexpr char kDrawingEntry[] = "QuarrinDrawing";

namespace quarrin {

class ModuleDrawing final : public Drawing {
 public:
  // `image` is the module's file as built; it must outlive this.
  ModuleDrawing(const void* image, size_t size) : image_(image), size_(size) {}

  // Each throws std::runtime_error when the module cannot be loaded, with
  // the same reason every time.
  std::string DrawChart(const std::string& title, const std::vector<std::string>& labels,
                        const std::vector<double>& values) override;
  std::string DrawDiskMap(const std::string& caption, const std::vector<FolderBar>& bars) override;
  std::unique_ptr<PopupLoop> NewPopupLoop() override;
  // Releases only what a loaded module holds; never loads it.
  void ReleaseFonts() override;

 private:
  Drawing& Loaded();

  const void* image_;
  size_t size_;
  std::once_flag once_;
  std::unique_ptr<EmbeddedModule> module_;
  Drawing* drawing_ = nullptr;
  std::string error_;
};

}  // namespace quarrin

#endif  // QUARRIN_AGENT_MODULE_DRAWING_H_
