// Unsent changes: what the window shows differently from what the device held at the last read
// or send.
//
// At each read or successful send the settings model is taken as the device's state. From then
// on every control whose setting or option differs from it is marked (bold text) until the next
// read or send, whatever changed it: the value dialog, a click, defaults, a battery preset or a
// loaded file. Choosing a port, "&Get settings" and closing the window ask before such changes
// are thrown away, offering to send them first. Main thread only.
#pragma once

#include <QObject>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

class QWidget;

namespace zo {

class TForm1;

class TUnsentChanges final : public QObject {
 public:
  // Watches the setting controls of `Form` (created before this).
  explicit TUnsentChanges(TForm1& Form);

  // The model now holds what the device holds: nothing is unsent.
  void Baseline();
  // Compares the model with the device's state, marks the controls that differ and tells
  // OnChange. Runs by itself whenever a watched control changes.
  void Update();
  // The number of controls (a group of radio buttons counts once) marked at the last Update.
  int Count() const { return count_; }
  bool Marked(const QWidget* Control) const;
  // What to do before unsent changes would be lost.
  enum class TDecision { Proceed, Send, Keep };
  // Proceed when nothing would be lost (no target shown, no unsent change) or the user answered
  // "Discard" to "Settings were changed but not sent to the device. Discard the changes?"; Send
  // for "Send", which is offered only when `CanSend`; Keep for "Cancel".
  TDecision AskBeforeDiscard(bool CanSend);

  std::function<void()> OnChange;

 private:
  // One thing the user can change: a setting (number 8 to 23) and/or an option flag (26 to 40),
  // and the controls that show it.
  struct TItem {
    int Setting;
    int Flag;
    std::vector<QWidget*> Controls;
  };
  bool Differs(const TItem& Item) const;
  void Mark(QWidget* Control, bool On);

  TForm1& form_;
  std::vector<TItem> items_;
  bool valid_ = false;  // a baseline exists
  std::array<std::int32_t, 26> values_{};
  std::array<bool, 41> flags_{};
  int count_ = 0;
};

}  // namespace zo
