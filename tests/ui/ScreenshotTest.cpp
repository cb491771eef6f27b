// Renders the window in its main states, in the platform's light palette and a dark one, to PNG
// files in the build folder (screenshots/), and checks that each rendering has the window's size at
// the current scale factor.
#include <QDir>
#include <QScreen>

#include "tests/ui/ScaleFactor.h"
#include "tests/ui/WindowTestSupport.h"
#include "ui/AbtForm.h"

#ifndef ZO_SCREENSHOT_DIR
#define ZO_SCREENSHOT_DIR "screenshots"
#endif

namespace zo::test {
namespace {

class Screenshots : public WindowTest {
 protected:
  void Save(QWidget* Widget, const QString& Name) {
    QApplication::processEvents();
    const QPixmap shot = Widget->grab();
    const qreal scale = shot.devicePixelRatio();
    EXPECT_EQ(shot.size(), (QSizeF(Widget->size()) * scale).toSize()) << Name.toStdString();
    const QString suffix = scale > 1.5 ? QStringLiteral("@2x") : QString();
    QDir().mkpath(QStringLiteral(ZO_SCREENSHOT_DIR));
    const QString file = QStringLiteral(ZO_SCREENSHOT_DIR "/%1%2.png").arg(Name, suffix);
    EXPECT_TRUE(shot.save(file)) << file.toStdString();
  }
};

#if ZO_SCALE == 2
#define ZO_SCREENSHOT_TEST MainStatesAtScaleFactor2
#else
#define ZO_SCREENSHOT_TEST MainStates
#endif

// A dark desktop theme, as a platform theme would hand it to the program.
QPalette DarkPalette() {
  QPalette p;
  const QColor window(45, 45, 48), base(30, 30, 32), text(230, 230, 230);
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, window);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, window.lighter(120));
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::Highlight, QColor(61, 174, 233));
  p.setColor(QPalette::HighlightedText, Qt::black);
  p.setColor(QPalette::ToolTipBase, base);
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::Light, window.lighter(160));
  p.setColor(QPalette::Midlight, window.lighter(130));
  p.setColor(QPalette::Mid, window.lighter(110));
  p.setColor(QPalette::Dark, window.darker(130));
  p.setColor(QPalette::Shadow, Qt::black);
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    p.setColor(QPalette::Disabled, role, QColor(120, 120, 120));
  return p;
}

TEST_F(Screenshots, ZO_SCREENSHOT_TEST) {
  const QPalette light = QApplication::palette();
  for (const QString& theme : {QString(), QStringLiteral("-dark")}) {
    QApplication::setPalette(theme.isEmpty() ? light : DarkPalette());
    StartDemo();
    Start();
    Save(form_, "no-port" + theme);
    ASSERT_TRUE(Connect(1));
    ASSERT_TRUE(WaitFor([this] { return form_->UBatStatusLabel->text() != "- - -"; }));
    Save(form_, "connected" + theme);
    form_->PageControl1->setCurrentIndex(1);
    Save(form_, "charge-curve" + theme);
    form_->PageControl1->setCurrentIndex(0);

    // The value dialog as a click opens it.
    QPointer<QTimer> poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [this, poll, theme] {
      if (!poll || !InputForm->isVisible()) return;
      poll->stop();
      poll->deleteLater();
      Save(InputForm, "value-dialog" + theme);
      InputForm->reject();
    });
    poll->start(5);
    QTest::mouseClick(form_->AbsorptionVoltageEdit, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([poll] { return !poll; }, 5000));

    // Changes marked until they are sent, counted in the status line.
    EnterValue(form_->FloatVoltageEdit, "27.0");
    form_->GroundRelayCheckBox->click();
    Save(form_, "unsent-changes" + theme);

    {
      TAboutBox about(form_);
      about.show();
      Save(&about, "about-box" + theme);
    }
    EXPECT_TRUE(ui_.Messages().empty());
    Stop();
    demo_.reset();
  }
  QApplication::setPalette(light);
}

}  // namespace
}  // namespace zo::test
