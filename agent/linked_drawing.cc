#include "agent/linked_drawing.h"

#include "disk/chart_canvas.h"
#include "disk/usage_chart.h"
#include "popup/popup_window_loop.h"

namespace quarrin {

std::string LinkedDrawing::DrawChart(const std::string& title,
                                     const std::vector<std::string>& labels,
                                     const std::vector<double>& values) {
  return quarrin::DrawChart(title, labels, values);
}

std::string LinkedDrawing::DrawDiskMap(const std::string& caption,
                                       const std::vector<FolderBar>& bars) {
  return quarrin::DrawDiskMap(caption, bars);
}

std::unique_ptr<PopupLoop> LinkedDrawing::NewPopupLoop() {
  return std::make_unique<PopupWindowLoop>();
}

void LinkedDrawing::ReleaseFonts() { ReleaseChartFonts(); }

}  // namespace quarrin
