// Whether an X display can be opened (the default one, as DISPLAY names it), asked before a GUI
// toolkit is started on it: the toolkit would end the process when it cannot connect.
#pragma once

bool CanOpenXDisplay();
