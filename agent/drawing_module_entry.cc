// The entry of the drawing module that the agent's executable carries (see
// module_drawing.h); built into the module only.
#include "agent/linked_drawing.h"
#include "agent/module_drawing.h"

extern "C" __attribute__((visibility("default"))) quarrin::Drawing* QuarrinDrawing() {
  static quarrin::LinkedDrawing drawing;
  return &drawing;
}
