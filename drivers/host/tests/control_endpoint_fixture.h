// The machine's control commands served on a control endpoint of their own
// (a socket in a fresh temporary folder) and a client connected to it, so
// that tests speak to the commands exactly as a test program does.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <string_view>

#include "drivers/host/frame_log.h"
#include "drivers/host/machine_control.h"
#include "drivers/host/tests/control_client.h"
#include "drivers/host/tests/glue_fixture.h"
#include "platform/devhost/control_endpoint.h"

namespace vantor::host::testing {

class ControlEndpointFixture : public GlueFixture {
 protected:
  explicit ControlEndpointFixture(std::string_view description = kGlueMachine)
      : GlueFixture(description) {
    AddMachineControlCommands(*host_, *machine_, frames_);
    char folder[] = "/tmp/control-endpoint-XXXXXX";
    EXPECT_NE(::mkdtemp(folder), nullptr);
    folder_ = folder;
    endpoint_ = std::make_unique<devhost::ControlEndpoint>(*host_, &clock_);
    std::string error;
    EXPECT_TRUE(endpoint_->Start(folder_ + "/devhost.control", error)) << error;
    client_ = std::make_unique<ControlClient>(folder_ + "/devhost.control");
    EXPECT_TRUE(client_->Connected());
  }

  ~ControlEndpointFixture() override {
    client_.reset();
    endpoint_->Stop();
    ::rmdir(folder_.c_str());
  }

  FrameLog frames_;
  std::string folder_;
  std::unique_ptr<devhost::ControlEndpoint> endpoint_;
  std::unique_ptr<ControlClient> client_;
};

}  // namespace vantor::host::testing
