#include "app/qt/main_window.h"

#include <exception>
#include <stdexcept>

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPalette>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QStringDecoder>
#include <QTextCursor>
#include <QThread>
#include <QUrl>

#include "app/texts.h"
#include "app/qt/donate_picture.h"
#include "app/qt/jpeg_decoder.h"
#include "app/qt/open_filter.h"
#include "app/qt/picture_button.h"
#include "app/tform1.h"
#include "format/model_profile.h"

namespace larkspur {
namespace {

// The fourth menu item: the folder of the REB- files and the working
// folders, which an installed program keeps out of the user's sight.
constexpr char kProgramFolderCaption[] = "打开本程序文件夹(&F)";

// What the window remembers: the selector's item chosen last, and the
// folder the open dialog chose a file from last.
const QString kModelSetting = QStringLiteral("Model");
const QString kLastFolderSetting = QStringLiteral("LastFolder");

// Texts from TForm1 are UTF-8, but a log line may quote a path in the
// system's 8-bit encoding (the ANSI code page on Windows); such a line is
// not valid UTF-8 and is read in that encoding instead.
QString ToQString(const std::string& text) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QByteArrayView bytes(text.data(), static_cast<qsizetype>(text.size()));
  QString decoded = utf8(bytes);
  if (!utf8.hasError()) return decoded;
  return QString::fromLocal8Bit(bytes);
}

// Paths cross to the core as the bytes the platform layer opens files with.
std::string ToPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString FromPath(const std::string& path) {
  return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

// Tahoma is what the window was drawn with; where it is missing, a font
// with Chinese letters must come next, or the captions turn into boxes.
QFont WindowFont(int point_size) {
  QFont font;
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("WenQuanYi Micro Hei"),
                    QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Microsoft YaHei"),
                    QStringLiteral("SimSun"), QStringLiteral("sans-serif")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(point_size);
  return font;
}

QPixmap DonatePixmap() {
  const RgbPicture picture = DecodeJpeg(DonatePicture(), "donate.jpg");
  const QImage image(picture.pixels.data(), picture.width, picture.height, picture.width * 3,
                     QImage::Format_RGB888);
  // QImage only borrows the pixels; the pixmap takes its own copy.
  return QPixmap::fromImage(image);
}

}  // namespace

MainWindow::MainWindow(const QString& settings_file, QWidget* parent)
    : QMainWindow(parent),
      settings_(settings_file.isEmpty()
                    ? std::make_unique<QSettings>(QStringLiteral("Larkspur"), QStringLiteral("Larkspur"))
                    : std::make_unique<QSettings>(settings_file, QSettings::IniFormat)) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromUtf8(kWindowCaption));
  setFont(WindowFont(8));

  BuildMenu();
  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("ClientArea"));
  BuildControls(client);
  setCentralWidget(client);
  BuildStatusBar();

  // The controls' places count from the top of the area below the menu bar,
  // so the menu bar's height comes on top of the drawn client area.
  const int menu_height = menuBar()->isNativeMenuBar() ? 0 : menuBar()->sizeHint().height();
  setFixedSize(kClientWidth, kClientHeight + menu_height);
  setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
  setAcceptDrops(true);
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildMenu() {
  auto add_item = [this](const char* caption, const char* name) {
    QAction* action = menuBar()->addAction(QString::fromStdString(Say(caption)));
    action->setObjectName(QString::fromLatin1(name));
    return action;
  };
  open1_ = add_item(kOpenCaption, "Open1");
  extract1_ = add_item(kExtractCaption, "Extract1");
  repack1_ = add_item(kRepackCaption, "Repack1");
  program_folder1_ = add_item(kProgramFolderCaption, "ProgramFolder1");
  connect(open1_, &QAction::triggered, this, [this] { RunHandler(&TForm1::Open1Click); });
  connect(extract1_, &QAction::triggered, this, [this] { RunHandler(&TForm1::Extract1Click); });
  connect(repack1_, &QAction::triggered, this, [this] { RunHandler(&TForm1::Repack1Click); });
  connect(program_folder1_, &QAction::triggered, this, [this] { RunHandler(&TForm1::OpenProgramFolder); });
}

void MainWindow::BuildControls(QWidget* client) {
  info_ = new QPlainTextEdit(client);
  info_->setObjectName(QStringLiteral("Info"));
  info_->setGeometry(5, 0, 484, 217);
  info_->setReadOnly(true);
  info_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  combo_box1_ = new QComboBox(client);
  combo_box1_->setObjectName(QStringLiteral("ComboBox1"));
  combo_box1_->setGeometry(192, 224, 289, 21);
  for (int i = 0; i < kModelCount; ++i) combo_box1_->addItem(QString::fromStdString(Say(ModelItemText(i))));
  // The selector names the default model but no choice has been made; the
  // placeholder shows only while the index is -1.
  combo_box1_->setPlaceholderText(QString::fromStdString(Say(ModelItemText(0))));
  combo_box1_->setCurrentIndex(-1);
  // Qt greys a placeholder out; here it stands for the default model and
  // reads like a chosen item.
  QPalette selector_palette = combo_box1_->palette();
  selector_palette.setColor(QPalette::PlaceholderText, selector_palette.color(QPalette::ButtonText));
  combo_box1_->setPalette(selector_palette);
  // Only the user's choice counts as a change, not an index set by code.
  connect(combo_box1_, &QComboBox::activated, this, [this](int index) {
    RunHandler(&TForm1::ComboBox1Change);
    RememberModel(index);
  });

  label1_ = new QLabel(client);
  label1_->setObjectName(QStringLiteral("Label1"));
  label1_->setGeometry(8, 256, 321, 57);
  QFont label_font = WindowFont(9);
  label_font.setBold(true);
  label1_->setFont(label_font);
  label1_->setWordWrap(true);
  label1_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label1_->setText(QString::fromStdString(Say(kDonationText)));

  image1_ = new PictureButton(client);
  image1_->setObjectName(QStringLiteral("Image1"));
  image1_->setGeometry(360, 272, 97, 25);
  image1_->setPixmap(DonatePixmap());
  connect(image1_, &PictureButton::clicked, this, [this] { RunHandler(&TForm1::Image1Click); });
}

void MainWindow::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName(QStringLiteral("StatusBar1"));
  bar->setFixedHeight(kStatusBarHeight);
  bar->setSizeGripEnabled(false);
  static constexpr int kPanelWidths[3] = {300, 100, 60};
  for (int panel = 0; panel < 3; ++panel) {
    auto* label = new QLabel(bar);
    label->setObjectName(QStringLiteral("StatusPanel%1").arg(panel));
    label->setFixedWidth(kPanelWidths[panel]);
    // Sunken like the panels of a native status bar, so the three read apart.
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setAlignment(Qt::AlignVCenter | (panel == 0 ? Qt::AlignLeft : Qt::AlignHCenter));
    bar->addWidget(label);
    status_panels_[panel] = label;
  }
}

void MainWindow::StartForm(TForm1& form) {
  form_ = &form;
  form.FormCreate();
  // FormCreate put the default profile in force; the model of the last run
  // comes back as if chosen by hand.
  if (const std::optional<int> model = RememberedModel()) {
    combo_box1_->setCurrentIndex(*model);
    RunHandler(&TForm1::ComboBox1Change);
  }
}

void MainWindow::RunHandler(void (TForm1::*handler)()) {
  if (form_ == nullptr) return;
  TForm1& form = *form_;
  form.RunUiCommand([&form, handler] { (form.*handler)(); });
}

void MainWindow::SetOpenDialog(OpenDialogFunction open_dialog) { open_dialog_ = std::move(open_dialog); }

void MainWindow::SetMessageBox(MessageBoxFunction message_box) { message_box_ = std::move(message_box); }

void MainWindow::SetUrlOpener(UrlOpenerFunction url_opener) { url_opener_ = std::move(url_opener); }

void MainWindow::SetQuestionBox(QuestionFunction question_box) { question_box_ = std::move(question_box); }

void MainWindow::SetFolderOpener(FolderOpenerFunction folder_opener) { folder_opener_ = std::move(folder_opener); }

void MainWindow::CenterOnScreen() {
  const QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect frame = frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  move(frame.topLeft());
}

void MainWindow::AppendLog(const std::string& line) {
  // Each call is one line, an empty text an empty line; the pane's first
  // block is there from the start and takes the first line.
  QTextCursor cursor(info_->document());
  cursor.movePosition(QTextCursor::End);
  if (!log_empty_) cursor.insertBlock();
  cursor.insertText(ToQString(line));
  log_empty_ = false;
  // The newest line is the one to see.
  info_->setTextCursor(cursor);
  info_->ensureCursorVisible();
}

void MainWindow::ClearLog() {
  info_->clear();
  log_empty_ = true;
}

void MainWindow::SetMenuEnabled(MenuItem item, bool enabled) {
  switch (item) {
    case MenuItem::kOpen:
      open1_->setEnabled(enabled);
      return;
    case MenuItem::kExtract:
      extract1_->setEnabled(enabled);
      return;
    case MenuItem::kRepack:
      repack1_->setEnabled(enabled);
      return;
  }
}

void MainWindow::SetStatusText(int panel, const std::string& text) {
  if (panel < 0 || panel >= 3) throw std::out_of_range("Status bar panel " + std::to_string(panel) + " does not exist");
  if (panel == 0) panel0_text_ = ToQString(text);
  status_panels_[panel]->setText(ToQString(text));
}

int MainWindow::SelectorIndex() const { return combo_box1_->currentIndex(); }

// Only the user's choices (activated) reach the change handler, not this.
// The form sets the index for a model the user accepted: it is remembered
// as a choice by hand is.
void MainWindow::SetSelectorIndex(int index) {
  combo_box1_->setCurrentIndex(index);
  RememberModel(index);
}

void MainWindow::SetSelectorEnabled(bool enabled) { combo_box1_->setEnabled(enabled); }

void MainWindow::ShowProgress(const std::string& text) {
  // The wide first panel shows how far the step is, and the file name again
  // after.
  status_panels_[0]->setText(text.empty() ? panel0_text_ : ToQString(text));
}

void MainWindow::ShowMessage(const std::string& title, const std::string& text, MessageIcon icon) {
  if (message_box_) {
    message_box_(title, text, icon);
    return;
  }
  ShowRealMessageBox(title, text, icon);
}

void MainWindow::ShowRealMessageBox(const std::string& title, const std::string& text, MessageIcon icon) {
  // Qt has one icon for both the error box and the worker's stop box.
  const QMessageBox::Icon qt_icon = icon == MessageIcon::kNone ? QMessageBox::NoIcon : QMessageBox::Critical;
  QMessageBox box(qt_icon, ToQString(title), ToQString(text), QMessageBox::Ok, this);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

std::optional<std::string> MainWindow::ShowOpenDialog(const OpenDialogRequest& request) {
  OpenDialogRequest shown = request;
  if (std::optional<std::string> folder = RememberedFolder()) shown.initial_folder = std::move(*folder);
  std::optional<std::string> chosen = open_dialog_ ? open_dialog_(shown) : RunRealOpenDialog(shown);
  if (chosen) RememberFolderOf(*chosen);
  return chosen;
}

std::optional<std::string> MainWindow::RunRealOpenDialog(const OpenDialogRequest& request) {
  QFileDialog dialog(this);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // A typed name of a file that does not exist is returned like any other.
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDirectory(FromPath(request.initial_folder));
  QStringList filters;
  for (const std::string& entry : NameFiltersFromOpenFilter(request.filter)) {
    filters << QString::fromUtf8(entry);
  }
  if (!filters.isEmpty()) {
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters[SelectedFilterEntry(request.filter_index, filters.size())]);
  }
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return ToPath(QDir::toNativeSeparators(chosen.first()));
}

bool MainWindow::AskYesNo(const std::string& title, const std::string& text) {
  if (question_box_) return question_box_(title, text);
  QMessageBox box(QMessageBox::Question, ToQString(title), ToQString(text), QMessageBox::Yes | QMessageBox::No, this);
  box.setWindowModality(Qt::ApplicationModal);
  return box.exec() == QMessageBox::Yes;
}

void MainWindow::OpenFolder(const std::string& path) {
  if (folder_opener_) {
    folder_opener_(path);
    return;
  }
  // Whether a file manager came up is not reported.
  QDesktopServices::openUrl(QUrl::fromLocalFile(FromPath(path)));
}

void MainWindow::OpenUrl(const std::string& url) {
  if (url_opener_) {
    url_opener_(url);
    return;
  }
  // Whether a browser came up is not reported.
  QDesktopServices::openUrl(QUrl(QString::fromUtf8(url)));
}

std::optional<QString> MainWindow::DroppableFile(const QMimeData* data) const {
  // While a run holds the menu, Open waits, and so does a drop.
  if (form_ == nullptr || !open1_->isEnabled() || data == nullptr || !data->hasUrls()) return std::nullopt;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) return url.toLocalFile();
  }
  return std::nullopt;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (DroppableFile(event->mimeData())) event->acceptProposedAction();
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
  if (DroppableFile(event->mimeData())) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const std::optional<QString> file = DroppableFile(event->mimeData());
  if (!file) return;
  event->acceptProposedAction();
  const std::string path = ToPath(QDir::toNativeSeparators(*file));
  // The file manager waits until the drop returns: the file is opened (and
  // any error box shown) after that, from the event loop.
  QMetaObject::invokeMethod(
      this,
      [this, path] {
        if (form_ == nullptr) return;
        TForm1& form = *form_;
        form.RunUiCommand([&form, &path] { form.OpenFile(path); });
      },
      Qt::QueuedConnection);
}

std::optional<int> MainWindow::RememberedModel() const {
  bool is_number = false;
  const int model = settings_->value(kModelSetting).toInt(&is_number);
  if (!is_number || model < 0 || model >= kModelCount) return std::nullopt;
  return model;
}

// A setting that cannot be written is a convenience lost, not an error of
// the command that chose it: failures are not reported.
void MainWindow::RememberModel(int index) {
  if (index < 0 || index >= kModelCount) return;
  settings_->setValue(kModelSetting, index);
  settings_->sync();
}

std::optional<std::string> MainWindow::RememberedFolder() const {
  const QString folder = settings_->value(kLastFolderSetting).toString();
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) return std::nullopt;
  return ToPath(QDir::toNativeSeparators(folder));
}

void MainWindow::RememberFolderOf(const std::string& chosen_path) {
  settings_->setValue(kLastFolderSetting, QFileInfo(FromPath(chosen_path)).absolutePath());
  settings_->sync();
}

void MainWindow::RunOnUiThread(const std::function<void()>& request) {
  // A blocking queued call from the user-interface thread would wait for
  // itself.
  if (QThread::currentThread() == thread()) {
    request();
    return;
  }
  // An exception must not unwind through Qt's event delivery; it is carried
  // over to the waiting thread and thrown there.
  std::exception_ptr error;
  const bool delivered = QMetaObject::invokeMethod(
      this,
      [&request, &error] {
        try {
          request();
        } catch (...) {
          error = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  if (!delivered) throw std::runtime_error("A request to the window could not be handed to its thread");
  if (error) std::rethrow_exception(error);
}

void MainWindow::ServePendingRequests() {
  QCoreApplication::sendPostedEvents();
  // Repaints and timers too, so the window stays drawn while it waits; the
  // user's clicks wait, since the commands must not start during teardown.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace larkspur
