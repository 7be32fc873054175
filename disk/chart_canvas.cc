#include "disk/chart_canvas.h"

#include <algorithm>
#include <cmath>

namespace quarrin {

void DrawTitle(DrawingCanvas& canvas, std::string_view title) {
  const double room = canvas.width() - 10;
  // A shortened title is centred as if it filled the room.
  const double w = std::min(canvas.MeasureText(title, DrawingFont::kTitle).width, room);
  canvas.WriteText(title, DrawingFont::kTitle, std::floor((canvas.width() - w) / 2), 6,
                  Colour{0, 0, 0}, room, Ellipsis::kEnd);
}

}  // namespace quarrin
