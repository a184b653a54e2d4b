// The framework in one include: application object, windows, dialogs.
#pragma once

#include "framework/win_app.h"
#include "framework/wnd.h"
#include "framework/dialog.h"
