// Shared between the POSIX window layer and its resource tables.
#pragma once

#include "desktop/ui.h"

namespace plat::posix {

// The installed dialog template with this id, or nullptr.
const DialogResource* FindDialogResource(int id);
// Notes a dialog run in the headless display record.
void RecordDialogRun(int id);

}  // namespace plat::posix
