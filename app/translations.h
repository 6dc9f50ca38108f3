// Qt's own texts (standard dialogs, context menus) in Chinese, whatever the system locale.
#pragma once

class QCoreApplication;

// Loads Qt's Chinese translations when they are installed; false when they are not (the
// window's own texts are Chinese either way, and its message boxes name their buttons).
bool installChineseTranslations(QCoreApplication *app);
