// Qt's own texts (standard dialogs, context menus) in Chinese, whatever the system locale.
#pragma once

class QCoreApplication;

// Loads Qt's Chinese translations when they are installed; false when they are not (the
// window's own texts are Chinese either way, and its message boxes name their buttons).
bool installChineseTranslations(QCoreApplication *app);

// Before QApplication: dates, numbers and measures in Chinese in Qt's system locale (the file
// dialog reads it from the environment), the character set left as the user's.
void chineseSystemLocale();

// After QApplication: the C library's character type back to what the user's environment
// names. A missing zh_CN locale makes the C library's whole-locale set-up fail and leave
// plain ASCII, which garbles the window's title for X and input methods. A non-UTF-8 result
// falls back to C.UTF-8, since every text of the program is Chinese.
void restoreCharacterType();
