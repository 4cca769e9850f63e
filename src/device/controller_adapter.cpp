#include "device/camera_controller.h"

std::unique_ptr<CameraController> CreateCameraController(const InterfaceClassGuid&) { return nullptr; }
