#pragma once
// Loading the driver bundle: its classes and its matching personality.

constexpr const char* kHVBSCSIDriverBundleName = "com_brevantis_driver_HVBSCSIDriver.kext";
constexpr const char* kHVBSCSIDriverBundleVersion = "1.0.0";
constexpr const char* kHVBSCSIDriverClassName = "com_brevantis_driver_HVBSCSIDriver";
constexpr const char* kHVBSCSIDriverUserClientClassName = "com_brevantis_driver_HVBSCSIDriverUserClient";

// Adds the personality to the kernel layer (once per process); nubs registered already are
// matched at once. True when the bundle is loaded.
bool loadHVBSCSIDriverBundle();
