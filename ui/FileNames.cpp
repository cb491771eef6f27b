#include "ui/FileNames.h"

namespace zo {

QString SuggestedSettingsFileName(const QString& DeviceType, const QDate& Date) {
  QString type;
  for (const QChar c : DeviceType)
    type += (c.unicode() < 0x20 || c.unicode() == 0x7F || QStringLiteral("/\\:*?\"<>|").contains(c))
                ? QChar('-')
                : c;
  // Blanks and dots at the ends: Windows drops them, and a leading dot hides the file.
  while (!type.isEmpty() && (type.front().isSpace() || type.front() == '.'))
    type.remove(0, 1);
  while (!type.isEmpty() && (type.back().isSpace() || type.back() == '.'))
    type.chop(1);
  if (type.isEmpty()) type = QStringLiteral("ZO settings");
  return type + ' ' + Date.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".zsf");
}

}  // namespace zo
