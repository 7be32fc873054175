// The canvas the usage chart and the disk map draw on: cairo and pango
// with libjpeg on Linux, GDI+ on Windows, chosen when the folder is built.
#ifndef QUARRIN_DISK_CHART_CANVAS_H_
#define QUARRIN_DISK_CHART_CANVAS_H_

#include <memory>
#include <string_view>

#include "platform/ui/drawing_canvas.h"

namespace quarrin {

// A chart that could not be drawn or encoded.
using ChartError = DrawingError;

// A white width x height picture of 24-bit colour, or one that begins as
// background (a picture of the same size). Throws ChartError.
std::unique_ptr<DrawingCanvas> NewChartCanvas(
    int width, int height, std::shared_ptr<const DrawingBackground> background = nullptr);

// The title of a chart: one line, centred at the top, black, in the title
// font; a title wider than the picture loses its end to an ellipsis.
void DrawTitle(DrawingCanvas& canvas, std::string_view title);

// Frees the fonts that pictures keep between draws, and the caches the font
// libraries hold for them. Only when no picture is being drawn and none will
// be: at the end of the process.
void ReleaseChartFonts();

}  // namespace quarrin

#endif  // QUARRIN_DISK_CHART_CANVAS_H_
