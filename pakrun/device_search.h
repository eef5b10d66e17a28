// Looking devices up by hardware ID in the device-installation database, and acting on
// the first one that carries it.
#pragma once

// 1 when a device that is present now has `hardwareId` in its hardware-ID list (exact
// match of a whole entry), else 0, also when the search failed.
int FindPresentDevice(const char* hardwareId);

// Removes one device, present or not, that has `hardwareId` in its hardware-ID list
// (exact match): the first whose removal succeeds. 1 when one was removed, else 0.
int RemoveDeviceByHardwareId(const char* hardwareId);

// Finds the first present device that has `hardwareId` in its hardware-ID list, letter
// case ignored, and applies the registry changes of `section` to its driver key through
// ApplyDriverAddDel. 1 when that was done, else 0 (no such device, the search failed, or
// the device's driver key could not be named, in which case nothing is applied).
int ApplyDriverAddDelForDevice(const char* settingsPath, const char* section,
                               const char* hardwareId);
