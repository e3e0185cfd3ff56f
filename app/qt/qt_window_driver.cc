#include "app/qt/qt_window_driver.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTest>
#include <QUrl>

#include "app/qt/picture_button.h"

namespace larkspur {
namespace {

const char* ActionName(Command command) {
  switch (command) {
    case Command::kOpen:
      return "Open1";
    case Command::kExtract:
      return "Extract1";
    case Command::kRepack:
      return "Repack1";
    case Command::kOpenProgramFolder:
      return "ProgramFolder1";
  }
  return "";
}

}  // namespace

QtWindowDriver::QtWindowDriver() { Start(); }

QtWindowDriver::~QtWindowDriver() {
  if (form_) form_->FormDestroy();
  form_.reset();
  window_.reset();
}

void QtWindowDriver::Start() {
  window_ = std::make_unique<MainWindow>(settings_file());
  form_ = std::make_unique<TForm1>(*window_, home.path());
  AnswerFor(*window_);
  window_->StartForm(*form_);
  window_->show();
}

QAction* QtWindowDriver::Action(const char* name) {
  QAction* action = window_->findChild<QAction*>(QString::fromLatin1(name));
  EXPECT_NE(action, nullptr) << name;
  return action;
}

std::string QtWindowDriver::Caption() { return window_->windowTitle().toStdString(); }

std::vector<std::string> QtWindowDriver::LogLines() {
  std::vector<std::string> lines;
  const QString text = window_->findChild<QPlainTextEdit*>(QStringLiteral("Info"))->toPlainText();
  for (const QString& line : text.split(QLatin1Char('\n'))) lines.push_back(line.toStdString());
  return lines;
}

std::string QtWindowDriver::StatusText(int panel) {
  return window_->findChild<QLabel*>(QStringLiteral("StatusPanel%1").arg(panel))->text().toStdString();
}

std::vector<std::string> QtWindowDriver::MenuCaptions() {
  std::vector<std::string> captions;
  for (const QAction* item : window_->menuBar()->actions()) {
    captions.push_back(item->text().toStdString() + (item->menu() != nullptr ? " (submenu)" : ""));
  }
  return captions;
}

bool QtWindowDriver::CommandEnabled(Command command) { return Action(ActionName(command))->isEnabled(); }

std::vector<std::string> QtWindowDriver::SelectorItems() {
  const auto* selector = window_->findChild<QComboBox*>(QStringLiteral("ComboBox1"));
  std::vector<std::string> items;
  for (int i = 0; i < selector->count(); ++i) items.push_back(selector->itemText(i).toStdString());
  return items;
}

bool QtWindowDriver::SelectorEnabled() { return window_->findChild<QComboBox*>(QStringLiteral("ComboBox1"))->isEnabled(); }

std::string QtWindowDriver::DonationText() {
  return window_->findChild<QLabel*>(QStringLiteral("Label1"))->text().toStdString();
}

void QtWindowDriver::ChooseModel(int index) {
  // A user's choice: the index changes, then the selector reports it.
  auto* selector = window_->findChild<QComboBox*>(QStringLiteral("ComboBox1"));
  selector->setCurrentIndex(index);
  emit selector->activated(index);
}

// A greyed action ignores trigger() as it ignores a click or its key.
void QtWindowDriver::Choose(Command command) { Action(ActionName(command))->trigger(); }

void QtWindowDriver::ClickPicture() {
  QTest::mouseClick(window_->findChild<PictureButton*>(QStringLiteral("Image1")), Qt::LeftButton);
}

// The events a drop from the file manager brings, sent to the widget under
// the middle of the log pane: Qt hands a drag entering there on to the
// first widget up the chain that takes it, and the drop to that widget.
void QtWindowDriver::DropFile(const std::string& path) {
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(path)))});
  const QWidget* log = window_->findChild<QPlainTextEdit*>(QStringLiteral("Info"));
  const QPoint at = log->mapTo(window_.get(), log->rect().center());
  QWidget* under = window_->childAt(at);
  if (under == nullptr) under = window_.get();
  const QPoint local = under->mapFrom(window_.get(), at);
  const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
  QDragEnterEvent enter(local, offered, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(under, &enter);
  if (!enter.isAccepted()) return;  // the drop is refused where the user lets go
  QDragMoveEvent move(local, offered, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(under, &move);
  QDropEvent drop(QPointF(local), offered, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(under, &drop);
  // The window opens the file from its event loop, after the drop.
  ServeOnce();
}

void QtWindowDriver::CloseWindow() {
  window_->close();
  form_->FormDestroy();  // what main does once the window is closed
}

void QtWindowDriver::Restart() {
  CloseWindow();
  form_.reset();
  window_.reset();
  Start();
}

void QtWindowDriver::ServeOnce() { window_->ServePendingRequests(); }

std::unique_ptr<WindowDriver> MakeQtWindowDriver() { return std::make_unique<QtWindowDriver>(); }

}  // namespace larkspur
