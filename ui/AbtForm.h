// The about box: product name, version, description, maker and web link, and the hidden special
// info (the text log), shown by Ctrl + right click on the product name.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "ui/Decoration.h"
#include "ui/WebLinkLabel.h"

namespace zo {

// The maker's web address (caption and link of WebLinkLabel1).
inline constexpr const char* MakerWebAddress = "https://www.tarnelo.example/";

class TAboutBox final : public QDialog {
 public:
  explicit TAboutBox(QWidget* Owner);

  // Mouse-down on ProductName: only the right button with Ctrl held shows the special info,
  // covering the box with a margin of 10 design pixels and holding a fresh copy of the text log.
  void CheckDisplaySpecialInfo(Qt::MouseButton Button, Qt::KeyboardModifiers Shift);
  // A click in the special info hides it.
  void HideSpecialInfo();

  QLabel* ProductName;
  QLabel* Version;
  QLabel* Label1;
  QLabel* MakerLabel;
  TWebLinkLabel* WebLinkLabel1;
  TDecoration* ProgramIcon;
  QPushButton* OKButton;
  QPlainTextEdit* SpecialInfoMemo;

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;
};

}  // namespace zo
