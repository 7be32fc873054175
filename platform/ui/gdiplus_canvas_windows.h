// The drawing canvas of GDI+, with GDI+'s own JPEG encoder.
#ifndef QUARRIN_PLATFORM_UI_GDIPLUS_CANVAS_WINDOWS_H_
#define QUARRIN_PLATFORM_UI_GDIPLUS_CANVAS_WINDOWS_H_

#include <memory>

#include "platform/ui/drawing_canvas.h"

namespace quarrin {

// A white width x height picture, or one that begins as background (from
// AsBackground of a picture of the same size). Starts GDI+ on first use, for
// the life of the process. Throws DrawingError.
std::unique_ptr<DrawingCanvas> NewGdiplusCanvas(
    int width, int height, std::shared_ptr<const DrawingBackground> background = nullptr);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_UI_GDIPLUS_CANVAS_WINDOWS_H_
