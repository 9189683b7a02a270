// The machine's update-mode settings under HKEY_LOCAL_MACHINE, key
// "SOFTWARE\Norvik Corporation\Tervo update" (the 32-bit registry view). A missing key
// or value reads as "not 1".
#pragma once

namespace quarry {

// "SilentExecution" is 1: the update tool runs silently.
bool ReadSilentExecutionFlag();
// "LaunchInstaller" is 1: the GUI-mode options are left out.
bool ReadLaunchInstallerFlag();

}  // namespace quarry
