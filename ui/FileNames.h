// The name the save dialog suggests for a settings file: the device type and the date, so that
// files of several units and days sort and read well ("Corvane Multi 24V 2026-12-10.zsf").
#pragma once

#include <QDate>
#include <QString>

namespace zo {

// `DeviceType` (as the window shows it) and `Date` (yyyy-MM-dd) with the extension ".zsf". The
// characters that file systems refuse or treat specially (/ \ : * ? " < > | and control
// characters) become "-"; blanks and dots at the ends go. Without a device type: "ZO settings".
QString SuggestedSettingsFileName(const QString& DeviceType, const QDate& Date);

}  // namespace zo
