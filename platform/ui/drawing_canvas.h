// A white picture that the charts draw on, and its JPEG file. Each system
// draws with its own library behind this interface.
#ifndef QUARRIN_PLATFORM_UI_DRAWING_CANVAS_H_
#define QUARRIN_PLATFORM_UI_DRAWING_CANVAS_H_

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quarrin {

// A picture that could not be drawn or encoded.
class DrawingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Red, green and blue from 0 to 1.
struct Colour {
  double r, g, b;
};
constexpr Colour Grey(double level) { return Colour{level, level, level}; }

// The fonts of the charts. Arial resolves to a metric-compatible face
// (Liberation Sans) where Arial itself is missing.
enum class DrawingFont {
  kTitle,  // Arial 10 pt
  kAxis,   // Arial 8 pt, for axis numbers and labels
};

// Where text too wide for its room loses characters to an ellipsis.
enum class Ellipsis { kEnd, kMiddle };

struct PointF {
  double x, y;
};

// Lines to stroke together: the points of each run joined in turn, one run
// apart from the next.
using Polylines = std::vector<std::vector<PointF>>;

struct GradientStop {
  double offset;  // 0 at the top edge, 1 at the bottom edge
  Colour colour;
};

struct TextSize {
  double width, height;
};

// What a picture holds to begin later pictures of its size from, and to
// encode them faster; opaque, as each drawing library keeps its own.
struct DrawingBackground;

// Coordinates are pixels from the top-left corner, a pixel's centre half a
// pixel in from its corner: a 1-pixel line through pixel centres covers
// whole pixels. Not safe for concurrent use; separate canvases may be used
// on separate threads.
class DrawingCanvas {
 public:
  virtual ~DrawingCanvas() = default;

  virtual int width() const = 0;
  virtual int height() const = 0;

  // 1-pixel antialiased lines with butt ends and mitred bends.
  virtual void StrokeLines(const Polylines& lines, Colour colour) = 0;
  // 1-pixel lines without antialiasing; square ends and bevelled bends
  // cover the end points' own pixels.
  virtual void StrokeSharpLines(const Polylines& lines, Colour colour) = 0;
  // The outline of a rectangle, 1 pixel wide, antialiased.
  virtual void StrokeRectangle(double x, double y, double w, double h, Colour colour) = 0;
  virtual void FillRectangle(double x, double y, double w, double h, Colour colour) = 0;
  // A rectangle filled with a gradient from its top edge to its bottom edge.
  virtual void FillGradient(double x, double y, double w, double h,
                            const std::vector<GradientStop>& stops) = 0;
  // Limits drawing to the rectangle, within any limit already pushed, until
  // the matching PopClip.
  virtual void PushClip(double x, double y, double w, double h) = 0;
  virtual void PopClip() = 0;

  // The logical size of one line of text (UTF-8, invalid sequences shown
  // as U+FFFD) in the font; with max_width > 0 and the text wider, of the
  // text shortened to fit by an ellipsis.
  virtual TextSize MeasureText(std::string_view text, DrawingFont font, double max_width = 0,
                               Ellipsis ellipsis = Ellipsis::kEnd) = 0;
  // Draws it as MeasureText measures it, its top-left corner at (x, y).
  virtual void WriteText(std::string_view text, DrawingFont font, double x, double y, Colour colour,
                        double max_width = 0, Ellipsis ellipsis = Ellipsis::kEnd) = 0;
  // The width of text in the font for a fraction of MeasureText's cost,
  // off by a pixel or two at most (kerning); -1 when it cannot tell.
  virtual double EstimateWidth(std::string_view /*text*/, DrawingFont /*font*/) { return -1; }

  // The picture as a baseline JPEG at quality 75. Throws DrawingError.
  virtual std::string Jpeg() = 0;
  // The picture as it stands, to begin later pictures of this size from.
  virtual std::shared_ptr<const DrawingBackground> AsBackground() = 0;
  // The JPEG of a picture begun from background, as Jpeg() gives it.
  virtual std::string Jpeg(const DrawingBackground& background) = 0;
};

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_UI_DRAWING_CANVAS_H_
