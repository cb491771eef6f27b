// The window on a real X server (run under xvfb-run with the xcb platform): what the offscreen
// platform cannot show. The busy window has its text on the screen while the main thread reads,
// and a refused question about a badly programmed DL2 leaves a window the keyboard can use.
#include <QImage>
#include <QMessageBox>
#include <QProcess>
#include <QWindow>
#include <atomic>
#include <thread>

#include "tests/ui/WindowTestSupport.h"
#include "threads/UiServices.h"
#include "ui/QtUiServices.h"

namespace zo::test {
namespace {

// Every frame the device behind a port has received so far.
int FramesSeen(const sim::SimDevice& Device) {
  int total = 0;
  for (int command = 0; command < 256; ++command)
    total += Device.FramesSeen(static_cast<std::uint8_t>(command));
  return total;
}

// Sends keys to the X server as a user's keyboard would.
void Keys(const QString& Keys) {
  QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), Keys});
}

// Notes every message box as it shows, with the place of its text on the screen.
class BoxWatcher final : public QObject {
 public:
  BoxWatcher() { qApp->installEventFilter(this); }
  ~BoxWatcher() override { qApp->removeEventFilter(this); }
  std::vector<QString> Texts;
  QRect BusyTextRect;
  std::atomic<bool> BusyShown{false};

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    auto* box = qobject_cast<QMessageBox*>(Watched);
    if (box && Event->type() == QEvent::Show) {
      Texts.push_back(box->text());
      if (box->objectName() == QLatin1String("BusyMessage")) BusyShown = true;
    }
    // Where the busy window's text is, once it is painted on the screen.
    auto* label = qobject_cast<QLabel*>(Watched);
    if (label && Event->type() == QEvent::Paint &&
        label->objectName() == QLatin1String("qt_msgbox_label") &&
        label->window()->objectName() == QLatin1String("BusyMessage"))
      BusyTextRect = QRect(label->mapToGlobal(QPoint(0, 0)), label->size());
    return false;
  }
};

class OnX : public WindowTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(QApplication::platformName(), QStringLiteral("xcb"));
    StartDemo();
  }
};

TEST_F(OnX, TheBusyWindowShowsItsTextWhileSettingsAreRead) {
  Start();
  ASSERT_TRUE(Connect(1));
  BoxWatcher watcher;
  // Plays the camera: once the busy window is up and the read is under way (the main thread
  // is blocked then), takes a picture of the screen. Until it has, the device answers each
  // request after 300 ms (well within the 500 ms the program waits), so that the read is still
  // under way however slowly a busy machine takes the picture.
  sim::SimDevice& device = demo_->Device(1);
  const int turnaround = device.TurnaroundMs();
  device.SetTurnaroundMs(300);
  const QString shot = QStringLiteral(ZO_SCREENSHOT_DIR "/busy-window-xcb.png");
  std::atomic<bool> taken{false};
  std::thread camera([&] {
    for (int i = 0; i < 6000 && !watcher.BusyShown; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const int frames = FramesSeen(device);
    for (int i = 0; i < 6000 && FramesSeen(device) < frames + 2; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    taken = std::system(("import -window root " + shot.toStdString()).c_str()) == 0;
    device.SetTurnaroundMs(turnaround);
  });
  QDir().mkpath(QStringLiteral(ZO_SCREENSHOT_DIR));
  form_->Getsettings1->trigger();
  ASSERT_TRUE(Settled());
  camera.join();
  ASSERT_TRUE(taken);
  ASSERT_TRUE(watcher.BusyShown);
  const QImage screen(shot);
  ASSERT_FALSE(screen.isNull());
  // The text is drawn in the window text colour on the window's background: count its pixels.
  const QRect text = QRect(watcher.BusyTextRect.topLeft() * form_->devicePixelRatio(),
                           watcher.BusyTextRect.size() * form_->devicePixelRatio())
                         .intersected(screen.rect());
  ASSERT_FALSE(text.isEmpty()) << "the busy window's text was never painted";
  const QColor ink = form_->palette().color(QPalette::WindowText);
  int inked = 0;
  for (int y = text.top(); y <= text.bottom(); ++y)
    for (int x = text.left(); x <= text.right(); ++x) {
      const QColor c = screen.pixelColor(x, y);
      if (std::abs(c.red() - ink.red()) + std::abs(c.green() - ink.green()) +
              std::abs(c.blue() - ink.blue()) <
          96)
        ++inked;
    }
  EXPECT_GT(inked, 30) << "the busy window's text is not on the screen";
}

TEST_F(OnX, ARefusedReprogramLeavesAWindowTheKeyboardCanUse) {
  TQtUiServices qt_ui;
  SetUi(&qt_ui);
  Start();
  qt_ui.SetParentWindow(form_);
  BoxWatcher watcher;
  const QString question = ToQt(
      "The DL2 seems to be badly programmed!\rA reprogram must be performed!\rDo you want to "
      "reprogram the Dl2 now?");
  // Answers the question No with the keyboard, once it has the focus.
  QTimer answer;
  answer.setInterval(20);
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box && box->text() == question && box->isActiveWindow()) Keys(QStringLiteral("alt+n"));
  });
  answer.start();
  form_->Com41->trigger();
  ASSERT_TRUE(WaitFor([&] { return !watcher.Texts.empty(); }));
  // A few detection cycles pass without the question coming back.
  ASSERT_TRUE(WaitFor([&] { return QApplication::activeModalWidget() == nullptr; }));
  QTest::qWait(1000);
  EXPECT_EQ(std::count(watcher.Texts.begin(), watcher.Texts.end(), question), 1);
  answer.stop();

  // Xvfb has no window manager: the main window gets the focus back from the test.
  form_->activateWindow();
  ASSERT_TRUE(WaitFor([this] { return form_->isActiveWindow(); }, 5000));
  Keys(QStringLiteral("alt+p"));
  ASSERT_TRUE(WaitFor([this] { return form_->Port1->isVisible(); }, 5000));
  Keys(QStringLiteral("1"));
  EXPECT_TRUE(WaitFor([this] { return form_->PanelActive(); }));
  EXPECT_EQ(std::count(watcher.Texts.begin(), watcher.Texts.end(), question), 1);
  Stop();
  SetUi(&ui_);
}

}  // namespace
}  // namespace zo::test
