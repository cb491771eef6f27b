// Takes the URLs the desktop would be asked to open.
#pragma once

#include <QObject>
#include <QUrl>
#include <vector>

namespace zo::test {

class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  std::vector<QUrl> Opened;
 public slots:
  void open(const QUrl& Url) { Opened.push_back(Url); }
};

}  // namespace zo::test
