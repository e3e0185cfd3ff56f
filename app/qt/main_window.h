// The program's main window: the Qt face of Window. It lays out the
// controls, forwards the menu items, the model selector and the donation
// picture to TForm1's handlers, and carries out TForm1's screen requests.
// Beside Open, Extract and Repack the menu bar has an item that shows the
// program folder in the file manager. A firmware file dropped onto the
// window is opened as Open would open it. The window remembers the model
// chosen last and the folder the open dialog chose from last, between runs,
// in the user's settings (QSettings, organization and application
// "Larkspur"), or in a file given to the constructor.
//
// Everything runs on the user-interface thread, except RunOnUiThread, which
// any thread may call. The dialogs, the message box, the question box, the
// web browser and the file manager go through replaceable functions so tests
// can answer them without a modal loop.
#ifndef LARKSPUR_APP_QT_MAIN_WINDOW_H_
#define LARKSPUR_APP_QT_MAIN_WINDOW_H_

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QMainWindow>

#include "app/window.h"

class QAction;
class QComboBox;
class QLabel;
class QMimeData;
class QPlainTextEdit;
class QSettings;

namespace larkspur {

class PictureButton;
class TForm1;

class MainWindow : public QMainWindow, public Window {
  Q_OBJECT

 public:
  using OpenDialogFunction = std::function<std::optional<std::string>(const OpenDialogRequest&)>;
  using MessageBoxFunction =
      std::function<void(const std::string& title, const std::string& text, MessageIcon icon)>;
  using UrlOpenerFunction = std::function<void(const std::string& url)>;
  using QuestionFunction = std::function<bool(const std::string& title, const std::string& text)>;
  using FolderOpenerFunction = std::function<void(const std::string& path)>;

  // The area below the menu bar, status bar included, and the status bar.
  static constexpr int kClientWidth = 498;
  static constexpr int kClientHeight = 337;
  static constexpr int kStatusBarHeight = 19;

  // Builds the window with its controls, fixed in size; not shown yet. What
  // it remembers is kept in `settings_file` (an INI file; tests give one in a
  // scratch folder), or, when that is empty, in the user's settings.
  // Throws PictureError if the built-in donation picture cannot be decoded.
  explicit MainWindow(const QString& settings_file = QString(), QWidget* parent = nullptr);
  ~MainWindow() override;

  // Sends the menu items, the selector's user choices, clicks on the
  // picture and dropped files to `form`'s handlers, each through
  // RunUiCommand; until this is called they do nothing. Then runs the
  // form's FormCreate and brings back the model chosen in the last run:
  // selected, with ComboBox1Change run, so its profile is in force. `form`
  // must outlive every later user action.
  void StartForm(TForm1& form);

  // Replace the real open dialog, message box, question box, browser launch
  // and file manager launch; an empty function brings the real one back.
  void SetOpenDialog(OpenDialogFunction open_dialog);
  void SetMessageBox(MessageBoxFunction message_box);
  void SetUrlOpener(UrlOpenerFunction url_opener);
  void SetQuestionBox(QuestionFunction question_box);
  void SetFolderOpener(FolderOpenerFunction folder_opener);

  // Places the window in the middle of its screen's available area.
  void CenterOnScreen();

  // Window.
  void AppendLog(const std::string& line) override;
  void ClearLog() override;
  void SetMenuEnabled(MenuItem item, bool enabled) override;
  void SetStatusText(int panel, const std::string& text) override;
  int SelectorIndex() const override;
  void SetSelectorIndex(int index) override;
  void SetSelectorEnabled(bool enabled) override;
  void ShowProgress(const std::string& text) override;
  void ShowMessage(const std::string& title, const std::string& text, MessageIcon icon) override;
  // The dialog starts in the folder it chose from last while that still
  // exists, else in the request's.
  std::optional<std::string> ShowOpenDialog(const OpenDialogRequest& request) override;
  bool AskYesNo(const std::string& title, const std::string& text) override;
  void OpenUrl(const std::string& url) override;
  void OpenFolder(const std::string& path) override;

  // UiThread.
  void RunOnUiThread(const std::function<void()>& request) override;
  void ServePendingRequests() override;

 protected:
  // A local file dragged over the window is taken while Open is enabled;
  // dropped, it is opened (TForm1::OpenFile) once the drop has ended.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildMenu();
  void BuildControls(QWidget* client);
  void BuildStatusBar();
  void RunHandler(void (TForm1::*handler)());

  std::optional<std::string> RunRealOpenDialog(const OpenDialogRequest& request);
  void ShowRealMessageBox(const std::string& title, const std::string& text, MessageIcon icon);
  // The first local file of a drag, when the window takes drops now.
  std::optional<QString> DroppableFile(const QMimeData* data) const;

  // What the window remembers between runs; nothing when there is no
  // usable record (none, another program's value, a folder gone since).
  std::optional<int> RememberedModel() const;
  void RememberModel(int index);
  std::optional<std::string> RememberedFolder() const;
  void RememberFolderOf(const std::string& chosen_path);

  TForm1* form_ = nullptr;
  OpenDialogFunction open_dialog_;
  MessageBoxFunction message_box_;
  UrlOpenerFunction url_opener_;
  QuestionFunction question_box_;
  FolderOpenerFunction folder_opener_;
  std::unique_ptr<QSettings> settings_;

  QAction* open1_ = nullptr;
  QAction* extract1_ = nullptr;
  QAction* repack1_ = nullptr;
  QAction* program_folder1_ = nullptr;
  QPlainTextEdit* info_ = nullptr;
  QComboBox* combo_box1_ = nullptr;
  QLabel* label1_ = nullptr;
  PictureButton* image1_ = nullptr;
  QLabel* status_panels_[3] = {};
  QString panel0_text_;  // the first panel's own text, under any progress report
  bool log_empty_ = true;  // the log pane holds no line yet
};

}  // namespace larkspur

#endif  // LARKSPUR_APP_QT_MAIN_WINDOW_H_
