// The names and units of the settings now live with the settings model (the settings text files
// use them too); this header keeps the command line's includes working.
#pragma once

#include "settings/SettingTexts.h"
