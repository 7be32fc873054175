// The charts' canvas on Windows.
#include <memory>
#include <utility>

#include "disk/chart_canvas.h"
#include "platform/ui/gdiplus_canvas_windows.h"

namespace quarrin {

std::unique_ptr<DrawingCanvas> NewChartCanvas(int width, int height,
                                              std::shared_ptr<const DrawingBackground> background) {
  return NewGdiplusCanvas(width, height, std::move(background));
}

// GDI+ keeps no fonts between pictures.
void ReleaseChartFonts() {}

}  // namespace quarrin
