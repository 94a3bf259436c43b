// Modal boxes and dialogs as a host or a test sees them.
//
// When a modal box or dialog opens, the installed hook is called (from inside its modal loop,
// so timers keep running while the hook waits) with what it shows, and may answer it. A box
// left unanswered on the offscreen platform is answered with its default (OK) at once; on a
// display it waits for the user.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct ModalInfo {
  std::string kind;                  // "messagebox", "dialog" or "view"
  std::string title;                 // UTF-8
  std::vector<std::string> texts;    // UTF-8: the box text, or every static text of a dialog
  std::vector<std::string> entries;  // UTF-8: list entries of a dialog's combo box
  std::vector<std::string> buttons;  // button texts
};

class ModalAnswer {
 public:
  virtual ~ModalAnswer() = default;
  // Presses the button with this text ("OK", "Cancel", ...). False when there is none.
  virtual bool PressButton(const std::string& text) = 0;
  // Selects list entry `index` of the dialog's combo box (-1 clears the selection).
  virtual bool ChooseEntry(int index) = 0;
  // Sends a key (virtual-key code) to the box or dialog.
  virtual void SendKey(int virtualKey) = 0;
  // Sends a command as a menu item does.
  virtual void SendCommand(int id) = 0;
  // True once the box or dialog has closed.
  virtual bool Closed() const = 0;
};

using ModalHook = std::function<void(const ModalInfo&, ModalAnswer&)>;

void SetModalHook(ModalHook hook);
const ModalHook& GetModalHook();

// True when no user can answer (Qt's offscreen or minimal platform).
bool IsHeadless();
