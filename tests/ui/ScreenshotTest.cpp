// Renders the window in its main states to PNG files in the build folder (screenshots/), and
// checks that each rendering has the window's size at the current scale factor.
#include <QDir>
#include <QScreen>

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

TEST_F(Screenshots, ZO_SCREENSHOT_TEST) {
  StartDemo();
  Start();
  Save(form_, "no-port");
  ASSERT_TRUE(Connect(1));
  ASSERT_TRUE(WaitFor([this] { return form_->UBatStatusLabel->text() != "- - -"; }));
  Save(form_, "connected");
  form_->PageControl1->setCurrentIndex(1);
  Save(form_, "charge-curve");
  form_->PageControl1->setCurrentIndex(0);

  // The value dialog as a click opens it.
  QPointer<QTimer> poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [this, poll] {
    if (!poll || !InputForm->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    Save(InputForm, "value-dialog");
    InputForm->reject();
  });
  poll->start(5);
  QTest::mouseClick(form_->AbsorptionVoltageEdit, Qt::LeftButton);
  ASSERT_TRUE(WaitFor([poll] { return !poll; }, 5000));

  // Changes marked until they are sent, counted in the status line.
  EnterValue(form_->FloatVoltageEdit, "27.0");
  form_->GroundRelayCheckBox->click();
  Save(form_, "unsent-changes");

  TAboutBox about(form_);
  about.show();
  Save(&about, "about-box");
  EXPECT_TRUE(ui_.Messages().empty());
}

}  // namespace
}  // namespace zo::test
