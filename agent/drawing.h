// What the agent draws: the usage charts, the disk map and the message
// popup's window. The libraries behind them (cairo, pango, libjpeg, FLTK and
// X11 with their own dependencies) are the larger part of what the agent
// would load, so the running agent reaches them through this interface and
// loads them on first use (ModuleDrawing); tests and tools link them
// directly (LinkedDrawing).
#ifndef QUARRIN_AGENT_DRAWING_H_
#define QUARRIN_AGENT_DRAWING_H_

#include <memory>
#include <string>
#include <vector>

#include "disk/disk_map.h"
#include "popup/popup_loop.h"

namespace quarrin {

// Safe for concurrent use by multiple threads.
class Drawing {
 public:
  virtual ~Drawing() = default;

  // DrawChart of disk/usage_chart.h.
  virtual std::string DrawChart(const std::string& title, const std::vector<std::string>& labels,
                                const std::vector<double>& values) = 0;
  // DrawDiskMap of disk/disk_map.h.
  virtual std::string DrawDiskMap(const std::string& caption,
                                  const std::vector<FolderBar>& bars) = 0;
  // A loop that shows the popup on the X display named by DISPLAY
  // (PopupWindowLoop).
  virtual std::unique_ptr<PopupLoop> NewPopupLoop() = 0;
  // Frees the fonts kept between pictures with the font libraries' caches
  // (ReleaseChartFonts), once nothing draws any more: at the end of the
  // process, after the HTTP server has stopped.
  virtual void ReleaseFonts() = 0;
};

}  // namespace quarrin

#endif  // QUARRIN_AGENT_DRAWING_H_
