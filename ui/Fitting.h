// Fitting a window's design to the desktop's font.
//
// The design places every control in pixels that were drawn for a small system font (average
// character width 6 pixels, height 13). Each window keeps the desktop's own font and instead
// scales the positions and sizes of its design by one factor, as dialog units do: the ratio of
// the desktop font's average character width and height to the design font's, whichever is
// larger, so proportions stay as designed. Fonts differ in shape as well as in size, so where a
// text would still not fit its room at that factor, the factor grows until every text fits.
//
// The design's controls carry their design names (object names); Qt's own parts of a compound
// control (named "qt_..." or not at all) and widgets placed by a layout place themselves.
#pragma once

#include <QFont>
#include <QWidget>
#include <functional>
#include <vector>

namespace zo {

// The design font's average character width (of the 26 letters in both cases) and height.
inline constexpr double DesignCharWidth = 6.0;
inline constexpr double DesignCharHeight = 13.0;
// The design's body text size, against which SetDesignFont's sizes are read.
inline constexpr int DesignFontPixels = 11;

// Gives `W` a font of `PixelSize` where the design's body text has DesignFontPixels: once the
// window is scaled (ScaleToFont), the desktop font at that ratio of its size (a heading stays
// larger than the body text); `Bold` as the design has it.
void SetDesignFont(QWidget* W, int PixelSize, bool Bold = false);
// The design font size of `W`: SetDesignFont's, else DesignFontPixels.
int DesignFontSize(const QWidget* W);

// True when the text `W` shows lies within `W`: a label's text (or its wrapped lines), a button's
// text with its indicator or icon, an edit's text, a drop-down list's longest item, a group box's
// title. Widgets without a text fit.
bool TextFits(const QWidget* W);

// The widgets below `Root` (itself included) whose text does not fit; only the visible ones when
// `VisibleOnly`, else also those a target may show later.
std::vector<QWidget*> WidgetsWithClippedText(QWidget* Root, bool VisibleOnly);

// The factor `Font` asks of the design: its average character width and height against the
// design font's, the larger of the two.
double FontScale(const QFont& Font);

// Scales the design below `Root` (Root's own size included) to Root's font: every design font
// of SetDesignFont at its ratio of that font, every position and size by the smallest factor, not
// below FontScale, at which every text below Root fits. `AfterScaling`, when given, runs after
// each try with the factor (for controls that size themselves to their text). Can run again after
// a change of font: the design's geometry is kept. Returns the factor, which DesignScale tells.
double ScaleToFont(QWidget* Root, const std::function<void(double)>& AfterScaling = {});

// The factor ScaleToFont applied to `W`'s window; 1 before it ran.
double DesignScale(const QWidget* W);

// A length of the design in the scale of `W`'s window.
int Scaled(const QWidget* W, int DesignPixels);

}  // namespace zo
