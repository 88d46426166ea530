// The conduit's pictures: the HotSync action bitmaps and the settings dialog's icon.
#pragma once

#include "tools/art/common/canvas.h"

namespace art {

enum Action { ActionBothWays, ActionToHandheld, ActionToDesktop, ActionPause };
const int kActionWidth = 48, kActionHeight = 24;

// Hard-edged on a transparent background that becomes the recoloured light grey.
Canvas DrawAction(Action action);

// The dialog icon: a handheld showing a currency sign.
Canvas DrawConduitIcon(int size, bool classic);

} // namespace art
