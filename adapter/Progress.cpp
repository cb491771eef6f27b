#include "adapter/Progress.h"

#include "threads/UiServices.h"

namespace zo {

void ShowProgress(const std::string& Caption, const std::string& Info, int Position, int Min,
                  int Max) {
  Ui().ShowProgress(Caption, Info, Position, Min, Max);
}

}  // namespace zo
