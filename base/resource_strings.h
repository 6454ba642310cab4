// String resources of the plug-in, shared by the resource script and the
// Linux build's built-in table.
#pragma once

#define IDS_DISPLAY_NAME 103
#define HM_DISPLAY_NAME_TEXT "Hivemender"
