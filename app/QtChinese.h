// Qt's own words in Chinese: the standard buttons and dialogs read 是, 否 and
// 确定 like the rest of the program.
#pragma once

class QCoreApplication;
class QTranslator;

namespace pelmora {

// Loads Qt's Chinese catalogue from the Qt installation and installs it;
// the translator (owned by `app`), or null when the catalogue is missing.
QTranslator* InstallQtChinese(QCoreApplication& app);

}  // namespace pelmora
