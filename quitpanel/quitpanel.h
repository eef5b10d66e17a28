// Quitpanel, the utility closer: ends one running vendor utility, then one running mode
// switcher, and shows nothing.
#pragma once

// The whole run. Always 0.
int QuitpanelMain();
