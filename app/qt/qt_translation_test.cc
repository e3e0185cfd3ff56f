#include "app/qt/qt_translation.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace larkspur {
namespace {

// Takes out every translator the tests installed, so the other tests see
// Qt's own English.
void RemoveTranslators() {
  for (QTranslator* translator : QCoreApplication::instance()->findChildren<QTranslator*>()) {
    QCoreApplication::removeTranslator(translator);
    delete translator;
  }
}

// The open dialog's own words, as Qt says them now.
QString LookIn() { return QCoreApplication::translate("QFileDialog", "Look in:"); }

TEST(QtTranslationTest, ChineseGetsQtsOwnTextsInChineseWhereTheTranslationIsInstalled) {
  RemoveTranslators();
  ASSERT_EQ(LookIn(), QStringLiteral("Look in:"));
  EXPECT_FALSE(InstallQtTranslation(Language::kEnglish));
  EXPECT_EQ(LookIn(), QStringLiteral("Look in:"));
  // Without the file the window goes on with Qt's English.
  EXPECT_FALSE(InstallQtTranslation(Language::kChinese, QStringLiteral("/nonexistent-folder")));
  EXPECT_EQ(LookIn(), QStringLiteral("Look in:"));
  // scripts/install-deps installs Debian's translations; a machine without
  // them keeps the English dialog, as the window does.
  const bool installed = QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_zh_CN.qm");
  EXPECT_EQ(InstallQtTranslation(Language::kChinese), installed);
  if (installed) {
    EXPECT_NE(LookIn(), QStringLiteral("Look in:"));
    const QString look_in = LookIn();
    EXPECT_TRUE(std::any_of(look_in.begin(), look_in.end(),
                            [](QChar c) { return c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF; }))
        << look_in.toStdString();
    EXPECT_NE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
    // The dialog's file types, which Qt 6 asks for under another name.
    EXPECT_NE(QCoreApplication::translate("QAbstractFileIconProvider", "Folder", "All other platforms"),
              QStringLiteral("Folder"));
  }
  RemoveTranslators();
  QLocale::setDefault(QLocale::c());
}

}  // namespace
}  // namespace larkspur
