#include "agent/module_drawing.h"

#include <stdexcept>

namespace quarrin {

Drawing& ModuleDrawing::Loaded() {
  std::call_once(once_, [this] {
    std::string error;
    module_ = EmbeddedModule::Load("quarrin-drawing", image_, size_, &error);
    if (module_ != nullptr) {
      void* entry = module_->Symbol(kDrawingEntry, &error);
      if (entry != nullptr) drawing_ = reinterpret_cast<decltype(&QuarrinDrawing)>(entry)();
    }
    if (drawing_ == nullptr) error_ = "The drawing module cannot be loaded: " + error;
  });
  if (drawing_ == nullptr) throw std::runtime_error(error_);
  return *drawing_;
}

std::string ModuleDrawing::DrawChart(const std::string& title,
                                     const std::vector<std::string>& labels,
                                     const std::vector<double>& values) {
  return Loaded().DrawChart(title, labels, values);
}

std::string ModuleDrawing::DrawDiskMap(const std::string& caption,
                                       const std::vector<FolderBar>& bars) {
  return Loaded().DrawDiskMap(caption, bars);
}

std::unique_ptr<PopupLoop> ModuleDrawing::NewPopupLoop() { return Loaded().NewPopupLoop(); }

void ModuleDrawing::ReleaseFonts() {
  if (drawing_ != nullptr) drawing_->ReleaseFonts();
}

}  // namespace quarrin
