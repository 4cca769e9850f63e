// Giving a camera up and taking it back: the device object's side of the rule that a camera is open in
// one device object at a time (the controller's claim, usb/orv_cy3_cam.h).
#include "device/orvane_device.h"

int COrvaneR3O5Base::ReleaseCamera() {
  std::lock_guard<std::recursive_mutex> lock(ClassLock());
  if (!controller_ || !controller_->HoldsDevice()) return 1;
  StopTransfer(1);
  controller_->CloseDataChannel();
  controller_->ReleaseDevice();
  // Whoever opens it next may leave the FPGA programmed otherwise.
  reconfigureNeeded_ = true;
  released_ = true;
  return 1;
}

int COrvaneR3O5Base::ReclaimCamera() {
  std::lock_guard<std::recursive_mutex> lock(ClassLock());
  if (HoldsCamera()) return 1;
  if (!released_) return 0;
  return Open(deviceNumber_) != 0 ? 1 : 0;
}

int COrvaneR3O5Base::HoldsCamera() { return controller_ && controller_->HoldsDevice() ? 1 : 0; }
