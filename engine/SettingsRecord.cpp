#include "SettingsRecord.h"

namespace pelmora {

NumberList* NumberListOf(AlarmSettings& settings, int listKind) {
    switch (listKind) {
        case 1:
            return &settings.adminNumbers;
        case 2:
            return &settings.authorizeNumbers;
        case 3:
            return &settings.backupNumbers;
        default:
            return nullptr;
    }
}

}  // namespace pelmora
