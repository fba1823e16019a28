// The concrete server: the library holds exactly one.
#pragma once

#include "UserServer.h"

namespace dovrik {

class CTestServer final : public CUserServer {
  public:
    CTestServer() = default;
    ~CTestServer() override;

    void OnSpareHook(std::uint32_t value) override;
};

}  // namespace dovrik
