// Showing windows on a real desktop: placed within the screen, and drawn before the main thread
// blocks.
#pragma once

#include <QWidget>

namespace zo {

// Moves `Window` to the middle of its screen's free area, its top-left corner never outside that
// area: a window larger than the screen (a high scale factor on a small screen) then keeps its
// caption and menus reachable. Uses the window's final size, also before it was first shown.
void CentreOnScreen(QWidget* Window);

// Shows `Window` and paints it at once. On a window system that exposes a new window only after
// a round trip (X11), waits until it is exposed, processing events other than user input, at
// most `LimitMs` milliseconds: a window shown right before the main thread blocks would otherwise
// stay blank until the work is done.
void ShowPainted(QWidget* Window, int LimitMs = 200);

}  // namespace zo
