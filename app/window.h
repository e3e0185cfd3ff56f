// The window as TForm1 sees it: the few things the logic does to the screen.
// The Qt window implements it for users, the console window for the command
// line and the tests. Every method but those of UiThread is called on the
// user-interface thread only; TForm1 routes its worker's requests through
// RunOnUiThread.
#ifndef LARKSPUR_APP_WINDOW_H_
#define LARKSPUR_APP_WINDOW_H_

#include <optional>
#include <string>

#include "jobs/ui_thread.h"

namespace larkspur {

enum class MenuItem { kOpen, kExtract, kRepack };

enum class MessageIcon {
  kNone,   // the "Unable to run " box
  kError,  // the error box of a command on the user-interface thread
  kStop,   // a worker's "Application Error" box
};

struct OpenDialogRequest {
  std::string filter;         // "ROFS2, UDA|*.rofs2.*;*.uda.*;*.language.*|ALL|*.*"
  int filter_index = 1;       // 1-based entry of `filter`
  std::string initial_folder;
};

class Window : public UiThread {
 public:
  // The log pane `Info`.
  virtual void AppendLog(const std::string& line) = 0;
  virtual void ClearLog() = 0;

  // The menu items Open1, Extract1, Repack1.
  virtual void SetMenuEnabled(MenuItem item, bool enabled) = 0;

  // The status bar's panels 0, 1 and 2.
  virtual void SetStatusText(int panel, const std::string& text) = 0;

  // The model selector's current item, -1 when none is selected.
  virtual int SelectorIndex() const = 0;

  // Selects item `index` of the model selector, as the user would by hand;
  // the caller runs the change handler.
  virtual void SetSelectorIndex(int index) = 0;

  // The model selector takes no change while an Extract or Repack runs.
  virtual void SetSelectorEnabled(bool enabled) = 0;

  // How far the running step is ("files 12 of 210"), shown until the next
  // report; an empty text takes the report away.
  virtual void ShowProgress(const std::string& text) = 0;

  // A modal message box with an OK button; returns when it is dismissed.
  virtual void ShowMessage(const std::string& title, const std::string& text, MessageIcon icon) = 0;

  // A modal question with the buttons Yes and No: true for Yes.
  virtual bool AskYesNo(const std::string& title, const std::string& text) = 0;

  // The file-open dialog: the chosen full path, or nothing when cancelled.
  virtual std::optional<std::string> ShowOpenDialog(const OpenDialogRequest& request) = 0;

  // Shows a web page in the default browser; failures are not reported.
  virtual void OpenUrl(const std::string& url) = 0;

  // Shows a folder in the system's file manager; failures are not reported.
  virtual void OpenFolder(const std::string& path) = 0;
};

}  // namespace larkspur

#endif  // LARKSPUR_APP_WINDOW_H_
