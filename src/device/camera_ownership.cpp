// Giving a camera up and taking it back: the device object's side of the rule that a camera is open in
// one device object at a time (the controller's claim, usb/orv_cy3_cam.h).
#include "device/orvane_device.h"

bool COrvaneR3O5Base::ReleaseCamera() {
  std::lock_guard<std::mutex> lock(ClassLock());
  if (!controller_ || !controller_->HoldsDevice()) return true;
  StopTransfer(1);
  controller_->CloseDataChannel();
  controller_->ReleaseDevice();
  // Whoever opens it next may leave the FPGA programmed otherwise.
  reconfigureNeeded_ = true;
  released_ = true;
  return true;
}

bool COrvaneR3O5Base::ReclaimCamera() {
  std::lock_guard<std::mutex> lock(ClassLock());
  if (HoldsCamera()) return true;
  if (!released_) return false;
  return OpenLocked(deviceNumber_);
}

bool COrvaneR3O5Base::HoldsCamera() { return controller_ && controller_->HoldsDevice(); }
