// Methods whose subsystems are not built yet: each returns its documented failure value and
// moves to its subsystem's folder when that subsystem lands.
#include "control/quelvora_ctrl.h"

void CQuelvoraCtrl::ShowFullScreen() {}
