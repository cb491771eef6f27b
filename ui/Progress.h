// The progress dialog shown while the adapter is reprogrammed: a small modeless tool window with
// an info text and a bar. Created once at program start and kept; the plain ShowProgress routine
// (adapter/Progress.h) reaches it through the UI services.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <string>

namespace zo {

class TProgressForm final : public QDialog {
 public:
  // `MainWindow` is the window that is disabled while the dialog shows (may be null); the dialog
  // is freed with it.
  explicit TProgressForm(QWidget* MainWindow);
  ~TProgressForm() override;

  // Caption and Info both empty: enable the main window and hide the dialog. Otherwise disable
  // the main window, set caption and info, show the bar with range Min..Max at Position (hide it
  // when Position < Min), show the dialog centred on the main window and paint it at once.
  void ShowProgress(const std::string& Caption, const std::string& Info, int Position, int Min,
                    int Max);

  QLabel* ProgressInfo;
  QProgressBar* ProgressBar;

 protected:
  // IgnoreKeys: no key does anything while the dialog has the focus (Escape does not close it).
  void keyPressEvent(QKeyEvent* Event) override;
  void reject() override {}

 private:
  QPointer<QWidget> main_window_;
};

// The one progress dialog (null before it is created and after it is destroyed).
extern TProgressForm* ProgressForm;

}  // namespace zo
