// The window's layout at the scale factor of this test program, with the desktop's font and with
// 10 and 12 point fonts: every text is in the desktop's font (at the design's ratio for a heading)
// and lies within its control and within its parent, no two visible controls of one container
// overlap, in the main window (without a port and connected to each simulated device), the value
// dialog for every setting, the comparison with the device, the about box and the progress
// dialog; every window lies within the screen, the main window scrolling its client area where
// the screen is too small for it.
#include <QScreen>
#include <set>

#include "tests/ui/ScaleFactor.h"
#include "tests/ui/WindowTestSupport.h"
#include "ui/AbtForm.h"
#include "ui/CompareDialog.h"
#include "ui/Fitting.h"
#include "ui/Showing.h"

namespace zo::test {
namespace {

std::string Name(const QWidget* W) {
  const QString name = W->objectName();
  return (name.isEmpty() ? QString::fromLatin1(W->metaObject()->className()) : name).toStdString();
}

// Designed overlaps: the settings panel covers the label and picture below it, the pictures lie
// behind the controls, and the charger check box lies on its group's top edge as its caption.
bool MayOverlap(const QWidget* A, const QWidget* B) {
  for (const QWidget* w : {A, B}) {
    if (dynamic_cast<const TDecoration*>(w)) return true;
    if (w->objectName() == QLatin1String("MasterPanel")) return true;
  }
  const std::set<QString> caption = {QStringLiteral("EnableChargerCheckBox"),
                                     QStringLiteral("ChargerGroupBox")};
  return caption.count(A->objectName()) && caption.count(B->objectName());
}

bool HasText(const QWidget* W) {
  return qobject_cast<const QLabel*>(W) || qobject_cast<const QAbstractButton*>(W) ||
         qobject_cast<const QComboBox*>(W) || qobject_cast<const QLineEdit*>(W) ||
         qobject_cast<const QGroupBox*>(W);
}

// Qt's own parts of a compound control (a tab widget's bar, a scroll area's bars) place
// themselves.
bool QtPart(const QWidget* W) {
  return W->objectName().startsWith(QLatin1String("qt_"));
}

void ExpectTidy(QWidget* Window, const std::string& State) {
  SCOPED_TRACE(State);
  QApplication::processEvents();
  const QRect screen = Window->screen()->availableGeometry();
  EXPECT_TRUE(screen.contains(Window->frameGeometry()))
      << Name(Window) << " at " << Window->frameGeometry().x() << "," << Window->frameGeometry().y()
      << " " << Window->frameGeometry().width() << "x" << Window->frameGeometry().height()
      << " on a screen of " << screen.width() << "x" << screen.height();
  for (QWidget* w : WidgetsWithClippedText(Window, true))
    ADD_FAILURE() << Name(w) << ": text wider than its control";
  QList<QWidget*> all = Window->findChildren<QWidget*>();
  all.prepend(Window);
  const double body = QApplication::font().pointSizeF();
  for (QWidget* parent : all) {
    if (!parent->isVisible() || parent->window() != Window) continue;
    if (HasText(parent)) {
      EXPECT_NEAR(parent->font().pointSizeF(), body * DesignFontSize(parent) / DesignFontPixels,
                  0.01)
          << Name(parent) << " is not in the desktop's font";
    }
    std::vector<QWidget*> children;
    for (QObject* o : parent->children()) {
      auto* w = qobject_cast<QWidget*>(o);
      if (w && w->isVisible() && !w->isWindow() && !QtPart(w)) children.push_back(w);
    }
    for (std::size_t i = 0; i < children.size(); ++i) {
      QWidget* a = children[i];
      // Controls the design puts wholly outside their parent are out of sight by intent.
      if (HasText(a) && parent->rect().intersects(a->geometry()) &&
          !parent->rect().contains(a->geometry()))
        ADD_FAILURE() << Name(a) << " reaches beyond " << Name(parent);
      for (std::size_t j = i + 1; j < children.size(); ++j)
        if (a->geometry().intersects(children[j]->geometry()) && !MayOverlap(a, children[j]))
          ADD_FAILURE() << Name(a) << " overlaps " << Name(children[j]);
    }
  }
}

class Layout : public WindowTest {
 protected:
  void TearDown() override {
    WindowTest::TearDown();
    QApplication::setFont(desktop_);
  }
  const QFont desktop_ = QApplication::font();
};

#if ZO_SCALE == 2
#define ZO_LAYOUT_TEST EveryWindowFitsItsTextsAndTheScreenAtScaleFactor2
#else
#define ZO_LAYOUT_TEST EveryWindowFitsItsTextsAndTheScreen
#endif

TEST_F(Layout, ZO_LAYOUT_TEST) {
  for (const double points : {0.0, 10.0, 12.0}) {
    QFont font = desktop_;
    if (points > 0) font.setPointSizeF(points);
    QApplication::setFont(font);
    const std::string at = std::to_string(static_cast<int>(font.pointSizeF())) + " pt: ";
    StartDemo();
    Start();
    CentreOnScreen(form_);
    ExpectTidy(form_, at + "no port");

    for (int port : {1, 2}) {
      ASSERT_TRUE(Connect(port)) << "COM" << port;
      ASSERT_TRUE(WaitFor([this] { return form_->UBatStatusLabel->text() != "- - -"; }));
      ExpectTidy(form_, at + "COM" + std::to_string(port));
      // The value dialog of every setting this device shows.
      for (QLineEdit* edit : form_->findChildren<QLineEdit*>()) {
        if (!edit->isVisible() || !edit->isReadOnly()) continue;
        InputForm->Prepare(edit);
        InputForm->show();
        ExpectTidy(InputForm, at + "value dialog of " + Name(edit));
        InputForm->hide();
      }
      // The comparison with the device, which differs in one setting.
      sim::SimDevice& device = demo_->Device(port);
      device.SetSettingValue(SettingAbsorptionVoltage,
                             device.SettingValue(SettingAbsorptionVoltage) + 10);
      form_->Comparewithdevice1->trigger();
      ASSERT_TRUE(Settled());
      ASSERT_NE(form_->CompareDialog(), nullptr);
      ExpectTidy(form_->CompareDialog(), at + "comparison on COM" + std::to_string(port));
      form_->CompareDialog()->close();
    }

    {
      TAboutBox about(form_);
      about.show();
      ExpectTidy(&about, at + "about box");
    }

    ProgressForm->ShowProgress("Updating DL2", "Please wait, erasing", 0, 0, 100);
    ExpectTidy(ProgressForm, at + "progress dialog");
    ProgressForm->ShowProgress("", "", -1, 0, 100);
    Stop();
    demo_.reset();
  }
}

}  // namespace
}  // namespace zo::test
