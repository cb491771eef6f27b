// The progress dialog shown while the adapter is reprogrammed. The dialog itself belongs to the
// window; code here reaches it through the UI services.
#pragma once

#include <string>

namespace zo {

// Caption and Info both empty: enable the main window and hide the dialog. Otherwise disable the
// main window, set caption and info, show the bar with range Min..Max at Position (hidden when
// Position < Min), show the dialog and paint it at once.
void ShowProgress(const std::string& Caption, const std::string& Info, int Position, int Min,
                  int Max);

}  // namespace zo
