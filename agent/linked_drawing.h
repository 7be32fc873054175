// The drawing code linked into the program that uses it.
#ifndef QUARRIN_AGENT_LINKED_DRAWING_H_
#define QUARRIN_AGENT_LINKED_DRAWING_H_

#include "agent/drawing.h"

namespace quarrin {

class LinkedDrawing final : public Drawing {
 public:
  std::string DrawChart(const std::string& title, const std::vector<std::string>& labels,
                        const std::vector<double>& values) override;
  std::string DrawDiskMap(const std::string& caption, const std::vector<FolderBar>& bars) override;
  std::unique_ptr<PopupLoop> NewPopupLoop() override;
  void ReleaseFonts() override;
};

}  // namespace quarrin

#endif  // QUARRIN_AGENT_LINKED_DRAWING_H_
