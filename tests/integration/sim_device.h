// The device object of the tests of the device layer: on a virtual bus of its own with one camera
// at full speed, through the real controller and a device table of its own, so that parallel test
// programs keep their own tables.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>

#include "device/orvane_device.h"
#include "platform/time.h"
#include "sim/virtual_bus.h"

// Makes the bus and the device and opens camera 0. The table's name begins with `tablePrefix`. The
// waits of the open sequence and the stop settle are shortened; the clock stays real. The device must
// go before the bus.
inline void OpenSimDevice(const std::string& tablePrefix, std::unique_ptr<orvane::sim::VirtualBus>* bus,
                          std::unique_ptr<COrvaneUSB3R5SimpleSdk>* device) {
  orvane::sim::BusOptions options;
  options.pacing = orvane::sim::Pacing::kFast;
  *bus = std::make_unique<orvane::sim::VirtualBus>(1, options);
  *device = std::make_unique<COrvaneUSB3R5SimpleSdk>();
  const std::string section = tablePrefix + std::to_string(std::random_device{}());
  orvane::sim::VirtualBus* driver = bus->get();
  (*device)->SetControllerFactory([driver, section](const InterfaceClassGuid& guid) {
    orvane::usb::ControllerOptions controllerOptions;
    controllerOptions.guid = guid;
    controllerOptions.driver = driver;
    controllerOptions.sectionName = section;
    return CreateCameraController(controllerOptions);
  });
  (*device)->SetTiming([](uint32_t ms) { orvane::platform::SleepMs(std::min<uint32_t>(ms, 20)); }, nullptr);
  ASSERT_EQ((*device)->SetCameraType(COrvaneR3O5Base::kCameraTypeImx226), 1);
  ASSERT_EQ((*device)->CreateController(nullptr, nullptr), 1);
  ASSERT_EQ((*device)->Open(0), 1);
}
