// What the window's tests share: a started main window with its dialogs, the scripted UI
// services, the demonstration adapters on COM1 to COM4, and waits for a state.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "connection/BusThread.h"
#include "settings/Settings.h"
#include "sim/Demo.h"
#include "tests/support/ScriptedUi.h"
#include "ui/Inputunit.h"
#include "ui/Progress.h"
#include "ui/Unit1.h"

namespace zo::test {

// Generous: the protocol's real time-outs apply and the machine may be busy.
constexpr int WaitLimitMs = 30000;

inline bool WaitFor(const std::function<bool()>& Condition, int Ms = WaitLimitMs) {
  return QTest::qWaitFor(Condition, Ms);
}

class WindowTest : public ::testing::Test {
 protected:
  void TearDown() override {
    Stop();
    demo_.reset();
  }

  // Creates the main window, the value entry dialog and the progress dialog, as the program does.
  TForm1& Start(const QStringList& Parameters = {}) {
    form_ = new TForm1(Parameters);
    new TInputForm(form_);
    new TProgressForm(form_);
    form_->show();
    return *form_;
  }
  void Stop() {
    delete form_;
    form_ = nullptr;
  }
  void StartDemo() { demo_ = std::make_unique<sim::TDemo>(); }

  // Chooses "Com &<n>" and waits until the settings of the target found there are shown (not
  // those of a target shown before).
  bool Connect(int Port) {
    QAction* items[] = {form_->Com11, form_->Com21, form_->Com31, form_->Com41};
    items[Port - 1]->trigger();
    return WaitFor([this] {
      return form_->PanelActive() && !form_->ActionPending() &&
             form_->BusThread()->EffectiveVersion() == form_->TargetVersion();
    });
  }
  // Waits until no bus action waits or runs any more.
  bool Settled() {
    return WaitFor([this] { return !form_->ActionPending(); });
  }
  bool HasMessage(const std::string& Text) {
    const auto texts = ui_.MessageTexts();
    return std::find(texts.begin(), texts.end(), Text) != texts.end();
  }
  int CountMessages(const std::string& Text) {
    const auto texts = ui_.MessageTexts();
    return static_cast<int>(std::count(texts.begin(), texts.end(), Text));
  }
  // Opens the value entry dialog by clicking `Edit`, types `Text` and presses OK; the dialog
  // stays open (and is cancelled here) when the value is refused.
  void EnterValue(QLineEdit* Edit, const QString& Text) {
    // Acts once the dialog shows (its modal loop runs then).
    QPointer<QTimer> poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, Text] {
      if (!poll) return;
      if (!InputForm->isVisible()) return;
      poll->stop();
      poll->deleteLater();
      InputForm->NewValueEdit->setText(Text);
      QTest::mouseClick(InputForm->OKButton, Qt::LeftButton);
      if (InputForm->isVisible()) InputForm->reject();
    });
    poll->start();
    QTest::mouseClick(Edit, Qt::LeftButton);
    WaitFor([poll] { return !poll || !poll->isActive(); }, 5000);
    WaitFor([] { return !InputForm->isVisible(); }, 5000);
  }

  ScriptedUi ui_;
  std::unique_ptr<sim::TDemo> demo_;
  TForm1* form_ = nullptr;
};

}  // namespace zo::test
