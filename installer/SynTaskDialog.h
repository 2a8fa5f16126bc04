#pragma once
// The installer's edition of the task-dialog unit: 8-bit texts, buttons
// that carry their results in their tags, no classic style and nothing
// handed on after the dialog.

#include "package/halvernSynTaskDialog.h"

namespace SynTaskDialog = halvernSynTaskDialog;
