// The window's smaller parts: the charge curve's pixels, the about box and its web link, the
// progress dialog, the Qt main thread and the Qt message boxes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

#include "adapter/Progress.h"
#include "adapter/Textlogger.h"
#include "tests/ui/UrlCatcher.h"
#include "threads/MainThread.h"
#include "threads/Sema.h"
#include "ui/AbtForm.h"
#include "ui/FileNames.h"
#include "ui/Fitting.h"
#include "ui/Progress.h"
#include "ui/QtUiServices.h"
#include "ui/Unit1.h"

namespace zo::test {
namespace {

// --- Charge curve -------------------------------------------------------------------------

constexpr int BoxW = 413, BoxH = 165;

QImage Curve(int Index, bool Storage) {
  QImage image(BoxW, BoxH, QImage::Format_RGB32);
  image.fill(Qt::gray);
  QPainter canvas(&image);
  PaintChargeCurve(canvas, BoxW, BoxH, Index, Storage);
  return image;
}

// The pen is 2 pixels wide: a line through (X, Y) covers that pixel or its upper neighbour.
bool Drawn(const QImage& Image, int X, int Y, QRgb Colour) {
  return Image.pixel(X, Y) == Colour || Image.pixel(X, Y - 1) == Colour;
}
const QRgb Red = qRgb(255, 0, 0), Black = qRgb(0, 0, 0), White = qRgb(255, 255, 255);

TEST(ChargeCurve, TheThreeCharacteristicsAtThePartsCoordinates) {
  for (int index = 0; index < 3; ++index) {
    for (bool storage : {false, true}) {
      SCOPED_TRACE(testing::Message() << "index " << index << " storage " << storage);
      const QImage image = Curve(index, storage);
      const int S = storage ? 50 : 40;
      EXPECT_EQ(image.pixel(300, 120), White);  // background
      EXPECT_TRUE(Drawn(image, 40, 95, Red));   // bulk rise
      EXPECT_TRUE(Drawn(image, 130, 25, Red));  // absorption
      EXPECT_TRUE(Drawn(image, 190, 40, Red));  // float
      EXPECT_TRUE(Drawn(image, 245, S, Red));   // storage or continued float
      EXPECT_EQ(Drawn(image, 245, 50, Red), storage);
      EXPECT_TRUE(Drawn(image, 330, S, Red));  // between the repeated absorptions
      EXPECT_TRUE(Drawn(image, 275, 25, Red));
      EXPECT_TRUE(Drawn(image, 385, 25, Red));
      EXPECT_TRUE(Drawn(image, 400, S, Red));  // the last line ends at W - 10 = 403
      EXPECT_FALSE(Drawn(image, 406, S, Red));
      EXPECT_TRUE(Drawn(image, 10, 80, Black));    // vertical axis
      EXPECT_TRUE(Drawn(image, 200, 155, Black));  // horizontal axis at H - 10
      // The rise into absorption: a steep step, or slowly with CellGuard.
      EXPECT_EQ(Drawn(image, 90, 30, Red), index == 2);
      EXPECT_EQ(Drawn(image, 73, 29, Red), index != 2);
    }
  }
}

// --- About box and web link ---------------------------------------------------------------

TEST(AboutBox, SpecialInfoOnlyWithCtrlAndTheRightButtonAndHiddenByAClick) {
  SetLogSize(256);
  TAboutBox box(nullptr);
  box.show();
  // The design's size, scaled to the desktop's font.
  EXPECT_EQ(box.size(), QSize(Scaled(&box, 391), Scaled(&box, 250)));
  EXPECT_EQ(box.windowTitle(), "About");
  EXPECT_EQ(box.Label1->text(), "Configuration program  for  Corvane devices");
  QTest::mousePress(box.ProductName, Qt::LeftButton, Qt::ControlModifier);
  QTest::mousePress(box.ProductName, Qt::RightButton);
  EXPECT_FALSE(box.SpecialInfoMemo->isVisible());
  // Nothing logged yet: the special info is empty.
  QTest::mousePress(box.ProductName, Qt::RightButton, Qt::ControlModifier | Qt::ShiftModifier);
  ASSERT_TRUE(box.SpecialInfoMemo->isVisible());
  const int margin = Scaled(&box, 10);
  EXPECT_EQ(box.SpecialInfoMemo->geometry(),
            QRect(margin, margin, box.width() - 2 * margin, box.height() - 2 * margin));
  EXPECT_TRUE(box.SpecialInfoMemo->toPlainText().isEmpty());
  QTest::mouseClick(box.SpecialInfoMemo->viewport(), Qt::LeftButton);
  EXPECT_FALSE(box.SpecialInfoMemo->isVisible());
  // Shown again with a fresh copy of the log.
  LogText("DL2 interface found, version 1130118, mode ZOBus");
  QTest::mousePress(box.ProductName, Qt::RightButton, Qt::ControlModifier);
  EXPECT_TRUE(box.SpecialInfoMemo->isVisible());
  EXPECT_TRUE(box.SpecialInfoMemo->toPlainText().contains("DL2 interface found, version 1130118"));
  SetLogSize(0);
}

TEST(AboutBox, WebLinkOpensItsLinkWithTheDesktopAndThenItsOwnClick) {
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler("https", &catcher, "open");
  TAboutBox box(nullptr);
  box.show();
  int clicks = 0;
  box.WebLinkLabel1->OnClick = [&] {
    EXPECT_EQ(catcher.Opened.size(), 1u);  // the link first
    ++clicks;
  };
  QTest::mouseClick(box.WebLinkLabel1, Qt::LeftButton);
  QDesktopServices::unsetUrlHandler("https");
  ASSERT_EQ(catcher.Opened.size(), 1u);
  EXPECT_EQ(catcher.Opened[0], QUrl(QString::fromLatin1(MakerWebAddress)));
  EXPECT_EQ(box.WebLinkLabel1->text(), box.WebLinkLabel1->Link);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(box.WebLinkLabel1->cursor().shape(), Qt::PointingHandCursor);
}

// --- Progress dialog ----------------------------------------------------------------------

TEST(ProgressDialog, ShownWithOrWithoutItsBarAndHiddenByTwoEmptyTexts) {
  QWidget main;
  main.show();
  TProgressForm dialog(&main);
  TQtUiServices services(&main);
  SetUi(&services);
  // Through the plain routine, as the reprogram does.
  ShowProgress("Updating DL2", "Please wait, erasing", 0, 0, 100);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_FALSE(main.isEnabled());
  EXPECT_EQ(dialog.windowTitle(), "Updating DL2");
  EXPECT_EQ(dialog.ProgressInfo->text(), "Please wait, erasing");
  EXPECT_TRUE(dialog.ProgressBar->isVisible());
  EXPECT_TRUE(dialog.ProgressInfo->isEnabled());  // not greyed with the main window
  EXPECT_EQ(dialog.ProgressBar->value(), 0);
  services.SetProgressInfo("Programming");
  services.SetProgressPosition(40);
  EXPECT_EQ(dialog.ProgressInfo->text(), "Programming");
  EXPECT_EQ(dialog.ProgressBar->value(), 40);
  QTest::keyClick(&dialog, Qt::Key_Escape);  // keys do nothing
  EXPECT_TRUE(dialog.isVisible());

  ShowProgress("", "still busy", -1, 0, 100);  // one empty text still shows it
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_FALSE(dialog.ProgressBar->isVisible());
  ShowProgress("Range", "x", 5, 2, 10);
  EXPECT_EQ(dialog.ProgressBar->minimum(), 2);
  EXPECT_EQ(dialog.ProgressBar->maximum(), 10);
  EXPECT_EQ(dialog.ProgressBar->value(), 5);

  ShowProgress("", "", -1, 0, 100);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_TRUE(main.isEnabled());
  SetUi(nullptr);
}

// --- Qt main thread -----------------------------------------------------------------------

TEST(QtMainThread, WorkersCallsRunOnTheGuiThreadWhileTheEventLoopRuns) {
  const std::thread::id gui = std::this_thread::get_id();
  std::atomic<int> ran{0};
  std::atomic<bool> on_gui{true};
  std::thread worker([&] {
    for (int i = 0; i < 20; ++i)
      TheMainThread().Synchronize([&] {
        if (std::this_thread::get_id() != gui) on_gui = false;
        ++ran;
      });
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return ran.load() == 20; }, 10000));
  worker.join();
  EXPECT_TRUE(on_gui.load());
  EXPECT_TRUE(TheMainThread().IsMainThread());
}

class CallingThread final : public TSafeThread {
 public:
  CallingThread() : TSafeThread(true) { Resume(); }
  std::atomic<int> Calls{0};

 protected:
  void Execute() override {
    while (!Terminated()) {
      SafeSynchronize([this] { ++Calls; });
      Delay(1);
    }
  }
};

TEST(QtMainThread, SafeTerminateServesAWorkerBlockedInItsCallAndEnds) {
  auto* thread = new CallingThread;
  ASSERT_TRUE(QTest::qWaitFor([&] { return thread->Calls.load() > 3; }, 10000));
  thread->SafeTerminate(true, true, true);  // returns: no dead-lock with the blocked worker
  SUCCEED();
}

TEST(QtMainThread, CallsAreServedInsideAModalDialogsLoop) {
  std::atomic<bool> ran{false};
  std::thread worker;
  QDialog dialog;
  QTimer::singleShot(
      0, [&] { worker = std::thread([&] { TheMainThread().Synchronize([&] { ran = true; }); }); });
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (ran) dialog.accept();
  });
  poll.start(5);
  QTimer::singleShot(10000, &dialog, &QDialog::reject);
  dialog.exec();
  worker.join();
  EXPECT_TRUE(ran.load());
}

// --- Qt message boxes ---------------------------------------------------------------------

// Presses the button with `Text` on the next message box; records what it showed.
struct BoxPresser {
  QString Text, Title;
  QStringList Buttons;
  void Press(const QString& Button) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [this, poll, Button] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      poll->stop();
      poll->deleteLater();
      Text = box->text();
      Title = box->windowTitle();
      Buttons.clear();
      QAbstractButton* chosen = nullptr;
      for (QAbstractButton* b : box->buttons()) {
        Buttons << b->text().remove('&');
        if (b->text().remove('&') == Button) chosen = b;
      }
      if (chosen)
        chosen->click();
      else
        box->reject();
    });
    poll->start(5);
  }
};

TEST(QtMessageBoxes, TheKindsButtonsAndAnswers) {
  TQtUiServices services;
  BoxPresser presser;
  presser.Press("No");
  EXPECT_EQ(services.MessageDlg("A reprogram must be performed!\rNow?", TMsgDlgType::mtError,
                                mbYes | mbNo),
            TModalResult::mrNo);
  EXPECT_EQ(presser.Text, "A reprogram must be performed!\nNow?");
  EXPECT_EQ(presser.Title, "Error");
  EXPECT_EQ(presser.Buttons.size(), 2);
  EXPECT_TRUE(presser.Buttons.contains("Yes") && presser.Buttons.contains("No"));

  presser.Press("Cancel");
  EXPECT_EQ(services.MessageDlg("Press ok", TMsgDlgType::mtConfirmation, mbOK | mbCancel),
            TModalResult::mrCancel);
  EXPECT_EQ(presser.Title, "Confirm");
  presser.Press("");  // closed without a button: the most cautious answer it has
  EXPECT_EQ(services.MessageDlg("?", TMsgDlgType::mtWarning, mbYes | mbNo | mbCancel),
            TModalResult::mrCancel);
  presser.Press("OK");
  EXPECT_EQ(services.MessageDlg("Done", TMsgDlgType::mtInformation, mbOK), TModalResult::mrOk);
  EXPECT_EQ(presser.Buttons, QStringList{"OK"});
  // The question before unsent changes are lost.
  for (const auto& [button, answer] :
       {std::pair{"Send", TModalResult::mrSend}, std::pair{"Discard", TModalResult::mrDiscard},
        std::pair{"", TModalResult::mrCancel}}) {
    presser.Press(QString::fromLatin1(button));
    EXPECT_EQ(
        services.MessageDlg("Discard?", TMsgDlgType::mtConfirmation, mbSend | mbDiscard | mbCancel),
        answer);
    presser.Buttons.sort();
    EXPECT_EQ(presser.Buttons, (QStringList{"Cancel", "Discard", "Send"}));
  }
}

// --- Suggested file names -------------------------------------------------------------------

TEST(SettingsFileName, DeviceTypeAndDateWithCharactersSafeForFileNames) {
  const QDate date(2026, 12, 10);
  EXPECT_EQ(SuggestedSettingsFileName(QStringLiteral("Corvane Multi 24V"), date),
            "Corvane Multi 24V 2026-12-10.zsf");
  EXPECT_EQ(SuggestedSettingsFileName(QStringLiteral(" .Corvane 12/24V: \"A\"*?<>|\\\t. "), date),
            "Corvane 12-24V- -A-------- 2026-12-10.zsf");
  EXPECT_EQ(SuggestedSettingsFileName(QString(), date), "ZO settings 2026-12-10.zsf");
}

}  // namespace
}  // namespace zo::test
