// The charts and the disk map linked into the executable. The service's
// process has no desktop to draw a window on: copies of the program in the
// console user's session show the popup, not this process.
#include <cstdio>
#include <stdexcept>

#include "agent/agent_drawing.h"
#include "disk/chart_canvas.h"
#include "disk/usage_chart.h"

namespace quarrin {

namespace {

class LinkedChartDrawing final : public Drawing {
 public:
  std::string DrawChart(const std::string& title, const std::vector<std::string>& labels,
                        const std::vector<double>& values) override {
    return quarrin::DrawChart(title, labels, values);
  }
  std::string DrawDiskMap(const std::string& caption, const std::vector<FolderBar>& bars) override {
    return quarrin::DrawDiskMap(caption, bars);
  }
  std::unique_ptr<PopupLoop> NewPopupLoop() override {
    throw std::runtime_error("the service's process has no desktop to show a window on");
  }
  void ReleaseFonts() override { ReleaseChartFonts(); }
};

}  // namespace

std::unique_ptr<Drawing> OpenAgentDrawing() { return std::make_unique<LinkedChartDrawing>(); }

bool CanShowPopup() {
  std::fputs("Message popup: the service's process has no desktop; messages are kept but not shown\n",
             stderr);
  return false;
}

}  // namespace quarrin
