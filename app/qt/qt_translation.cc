#include "app/qt/qt_translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace larkspur {
namespace {

// Qt 6 asks for the open dialog's file types ("Folder", "%1 File") in the
// context QAbstractFileIconProvider, where Qt 5 asked QFileDialog;
// translations made for the older name hold them only under it.
class QtTranslator : public QTranslator {
 public:
  using QTranslator::QTranslator;

  QString translate(const char* context, const char* source, const char* disambiguation, int n) const override {
    QString said = QTranslator::translate(context, source, disambiguation, n);
    if (said.isEmpty() && qstrcmp(context, "QAbstractFileIconProvider") == 0) {
      said = QTranslator::translate("QFileDialog", source, disambiguation, n);
    }
    return said;
  }
};

}  // namespace

bool InstallQtTranslation(Language language, const QString& folder) {
  if (language != Language::kChinese || QCoreApplication::instance() == nullptr) return false;
  // Dates and sizes in the open dialog follow the window's language too.
  QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
  const QString from = folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
  // Owned by the application, so it lives as long as the texts it gives.
  auto* translator = new QtTranslator(QCoreApplication::instance());
  if (!translator->load(QStringLiteral("qtbase_zh_CN"), from) || !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return false;
  }
  return true;
}

}  // namespace larkspur
