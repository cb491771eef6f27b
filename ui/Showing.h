// Showing windows on a real desktop: placed within the screen, and drawn before the main thread
// blocks.
#pragma once

#include <QScrollArea>
#include <QWidget>

namespace zo {

// Moves `Window` to the middle of its screen's free area, within that area where it fits, and
// its top-left corner never outside it: a window larger than the screen then keeps its caption
// and menus reachable. Uses the window's final size, also before it was first shown, with its
// frame once it has one.
void CentreOnScreen(QWidget* Window);

// Shows `Window` and paints it at once. On a window system that exposes a new window only after
// a round trip (X11), waits until it is exposed, processing events other than user input, at
// most `LimitMs` milliseconds: a window shown right before the main thread blocks would otherwise
// stay blank until the work is done.
void ShowPainted(QWidget* Window, int LimitMs = 200);

// The central area of a main window whose client area has a fixed size: it asks for the client
// area's whole size while the screen has room for it beside the window's frame, menu bar and
// status bar, and for what the screen leaves otherwise, scrolling the rest. A large font on a
// small screen thus makes the window scroll rather than reach beyond the screen. Without a frame
// known yet (before the window system decorates it) a title bar's height is kept free.
class TScreenFitArea final : public QScrollArea {
 public:
  TScreenFitArea(QWidget* Client, QWidget* Parent);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }
  // True when the client area does not fit and scrolls.
  bool Scrolls() const;

 protected:
  // The window's screen and frame are known once it is shown and may change when it moves.
  bool eventFilter(QObject* Watched, QEvent* Event) override;
};

}  // namespace zo
