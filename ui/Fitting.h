// Fitting a window's texts into the places the design gives its controls: the desktop's font is
// often wider than the design's, so each window takes the largest font size at which every one of
// its texts fits, measured with the font's metrics. One size per window keeps its texts alike.
#pragma once

#include <QWidget>
#include <vector>

namespace zo {

// Gives `W` a font of `PixelSize` at the window's design size, which FitWindowFont scales with
// the window's own (a heading stays larger than the body text); `Bold` as the design has it.
void SetDesignFont(QWidget* W, int PixelSize, bool Bold = false);

// True when the text `W` shows lies within `W`: a label's text (or its wrapped lines), a button's
// text with its indicator or icon, an edit's text, a drop-down list's longest item, a group box's
// title. Widgets without a text fit.
bool TextFits(const QWidget* W);

// The widgets below `Root` (itself included) whose text does not fit; only the visible ones when
// `VisibleOnly`, else also those a target may show later.
std::vector<QWidget*> WidgetsWithClippedText(QWidget* Root, bool VisibleOnly);

// Gives `Window` the largest font of at most `DesignPixelSize` pixels (not below `Smallest`) at
// which every text below it fits, and returns that size.
int FitWindowFont(QWidget* Window, int DesignPixelSize, int Smallest = 7);

}  // namespace zo
