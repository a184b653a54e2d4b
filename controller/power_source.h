// Whether the machine runs on battery. The update is not started on battery.
#pragma once

// True when the system reports that it is off mains power. A failed query
// counts as mains power.
bool PowerRunsOnBattery();
