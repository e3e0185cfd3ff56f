// Qt's own texts in the window's language: the open dialog, the buttons of
// message boxes and the context menus come from Qt, not from the program's
// catalog. Call on the user-interface thread after the application is made.
#ifndef LARKSPUR_APP_QT_QT_TRANSLATION_H_
#define LARKSPUR_APP_QT_QT_TRANSLATION_H_

#include <QString>

#include "app/texts.h"

namespace larkspur {

// For Chinese, makes Chinese Qt's default locale and installs Qt's Chinese
// translation (qtbase_zh_CN.qm from `folder`, by default Qt's translations
// folder, as Debian's qt6-translations-l10n puts it there) into the
// application; true when it was installed. English needs none (Qt's texts are English), and a missing
// or unreadable file installs nothing: Qt's texts stay English and the
// window works as ever.
bool InstallQtTranslation(Language language, const QString& folder = QString());

}  // namespace larkspur

#endif  // LARKSPUR_APP_QT_QT_TRANSLATION_H_
